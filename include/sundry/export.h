#pragma once
// Symbol visibility: the library is compiled with hidden visibility, and only
// what is marked SUNDRY_EXPORT is part of its binary interface.
#define SUNDRY_EXPORT __attribute__((visibility("default")))
