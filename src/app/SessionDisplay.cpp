#include "SessionDisplay.h"

#include <cstdlib>

namespace {

// Longer than any display's name: such a value is not one, and a record
// must not grow with it.
const std::size_t kMaxValueBytes = 1024;

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// "host:number.screen": the screen is of the same display, and "unix"
// names the local one as no host does.
std::string sameX11(const std::string& display)
{
    const std::size_t colon = display.rfind(':');
    if (colon == std::string::npos)
        return display;
    std::string host = display.substr(0, colon);
    if (host == "unix")
        host.clear();
    std::string number = display.substr(colon + 1);
    if (const std::size_t dot = number.find('.'); dot != std::string::npos)
        number.resize(dot);
    return host + ":" + number;
}

// "wayland-0" in every session: only the runtime folder it is in tells
// one session's socket from another's.
std::string sameWayland(const std::string& name, const std::string& runtimeFolder)
{
    if (name.front() == '/' || runtimeFolder.empty() || runtimeFolder.front() != '/')
        return name;
    std::string folder = runtimeFolder;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder == "/" ? "/" + name : folder + "/" + name;
}

} // namespace

SessionDisplay::SessionDisplay(const std::string& x11, const std::string& wayland, const std::string& runtimeFolder)
{
    if (!x11.empty() && x11.size() <= kMaxValueBytes)
        m_x11 = sameX11(x11);
    if (!wayland.empty() && wayland.size() <= kMaxValueBytes)
        m_wayland = sameWayland(wayland, runtimeFolder);
    if (m_wayland.size() > kMaxValueBytes)
        m_wayland.clear();
}

SessionDisplay SessionDisplay::current()
{
    return SessionDisplay(variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("XDG_RUNTIME_DIR"));
}

bool SessionDisplay::isOtherThan(const SessionDisplay& other) const
{
    bool compared = false;
    if (!m_x11.empty() && !other.m_x11.empty()) {
        if (m_x11 == other.m_x11)
            return false;
        compared = true;
    }
    if (!m_wayland.empty() && !other.m_wayland.empty()) {
        if (m_wayland == other.m_wayland)
            return false;
        compared = true;
    }
    return compared;
}

std::string SessionDisplay::shownName() const
{
    if (!m_x11.empty())
        return m_x11;
    return m_wayland.substr(m_wayland.rfind('/') + 1);
}

std::string SessionDisplay::described() const
{
    std::string text;
    if (!m_x11.empty())
        text = "DISPLAY " + m_x11;
    if (!m_wayland.empty())
        text += (text.empty() ? "" : ", ") + std::string("WAYLAND_DISPLAY ") + m_wayland;
    return text.empty() ? "no display" : text;
}
