// The built-in firmware catalogue and the rule that picks one entry.
#pragma once

#include <stdint.h>

// Puts the selection back to its start value.
void ResetCatalogueSelection();
