#include "catalogue/support_list.h"

bool ShowAllEntries = false;

void SupportList() {}
