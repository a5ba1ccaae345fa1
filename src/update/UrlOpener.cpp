#include "UrlOpener.h"

// Defined here so the vtable is emitted in one object file only.
UrlOpener::~UrlOpener() = default;
