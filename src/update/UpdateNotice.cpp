#include "UpdateNotice.h"

// Defined here so the vtable is emitted in one object file only.
UpdateNotice::~UpdateNotice() = default;
