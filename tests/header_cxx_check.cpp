// SPDX-License-Identifier: MIT
// The public headers compile as C++ too, pedantically.
#include "header_c99_check.c"
