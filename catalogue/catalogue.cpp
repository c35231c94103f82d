#include "catalogue/catalogue.h"

void ResetCatalogueSelection() {}
