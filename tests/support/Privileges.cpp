#include "Privileges.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

bool Privileges::dropFileOverride()
{
    __user_cap_header_struct header {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2] {};
    if (::syscall(SYS_capget, &header, caps) != 0)
        return false;
    const unsigned override = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    caps[0].effective &= ~override;
    caps[0].permitted &= ~override;
    caps[0].inheritable &= ~override;
    return ::syscall(SYS_capset, &header, caps) == 0;
}
