// The /g report of the firmware this build can install.
#pragma once

// Set by the access-code form of /g: list every entry.
extern bool ShowAllEntries;

void SupportList();
