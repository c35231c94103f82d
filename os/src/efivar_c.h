// libefivar's and libefiboot's headers declare C functions without extern "C".
#pragma once

extern "C" {
#include <efivar/efiboot.h>
#include <efivar/efivar.h>
}
