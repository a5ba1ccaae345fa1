#pragma once

#include <string>

// The update service's address this build was configured with, empty when
// it checks for no update. Apart from the check itself, so that a start
// without a window can name it without loading the network and the window.
class UpdateAddress {
public:
    static std::string configured();
};
