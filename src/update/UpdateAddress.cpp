#include "UpdateAddress.h"

std::string UpdateAddress::configured()
{
    return QUILLMERE_UPDATE_URL;
}
