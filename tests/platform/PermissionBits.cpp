#include "PermissionBits.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr unsigned bit(int capability)
{
    return 1u << (capability % 32);
}

} // namespace

PermissionBits::PermissionBits()
{
    m_header.version = _LINUX_CAPABILITY_VERSION_3;
    m_header.pid = 0;
    if (::syscall(SYS_capget, &m_header, m_saved) != 0)
        return;
    const unsigned overrides = bit(CAP_DAC_OVERRIDE) | bit(CAP_DAC_READ_SEARCH);
    if ((m_saved[0].effective & overrides) == 0) {
        m_apply = true;
        return;
    }
    __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
    lowered[0].effective &= ~overrides;
    m_lowered = ::syscall(SYS_capset, &m_header, lowered) == 0;
    m_apply = m_lowered;
}

PermissionBits::~PermissionBits()
{
    if (m_lowered)
        ::syscall(SYS_capset, &m_header, m_saved);
}
