#pragma once

#include <string>

// The display a start shows its window on, as its environment names it:
// the X display ($DISPLAY) and the Wayland socket ($WAYLAND_DISPLAY, which
// is a name within $XDG_RUNTIME_DIR unless it is a path). Two desktop
// sessions of one user share the home folder, and so the running instance,
// but not the display: a window on one is out of sight on the other. The
// environment is what tells them apart; the platform Qt picks (offscreen,
// say) has no say in it.
class SessionDisplay {
public:
    // No display named.
    SessionDisplay() = default;
    // Written the same way for the same display: ":76.0" is ":76", and a
    // Wayland name becomes the path of its socket. A value no display has
    // (empty, or far too long) counts as none.
    SessionDisplay(const std::string& x11, const std::string& wayland, const std::string& runtimeFolder);

    // This process's, from its environment.
    static SessionDisplay current();

    const std::string& x11() const { return m_x11; }
    const std::string& wayland() const { return m_wayland; }
    bool isNamed() const { return !m_x11.empty() || !m_wayland.empty(); }

    // True only when both name a display of the same kind and none of
    // those they share is the same. What cannot be told apart (one names
    // only an X display, the other only a Wayland socket, or either names
    // none) is not another display: a start then goes to the running
    // window as it always has.
    bool isOtherThan(const SessionDisplay& other) const;

    // For the user: the X display as written (":76"), else the Wayland
    // socket's name ("wayland-0").
    std::string shownName() const;
    // For the log: every value, named by its variable.
    std::string described() const;

private:
    std::string m_x11;
    std::string m_wayland;
};
