#include "catalogue/catalogue.h"

#include "catalogue_images.h"
#include "catalogue/crc32.h"
#include "chip/flash_layout.h"

uint8_t SelectedEntryIndex = kDefaultEntryIndex;

constexpr CatalogueEntry FirmwareCatalogue[kCatalogueEntryCount] = {
    {7, u"FRD700H31018-A", 1, 1, 19, kCatalogueImage0, 17344, kEmbeddedImageCrc[0],
     kEmbeddedImageGenuine[0]},
    {7, u"W0700H82LS-D", 1, 3, 4, kCatalogueImage1, 17381, kEmbeddedImageCrc[1],
     kEmbeddedImageGenuine[1]},
    {4, u"W0550U99GE-D", 1, 4, 8, kCatalogueImage2, 16112, kEmbeddedImageCrc[2],
     kEmbeddedImageGenuine[2]},
    {7, u"W0700UA2GS-D", 1, 5, 7, kCatalogueImage3, 16492, kEmbeddedImageCrc[3],
     kEmbeddedImageGenuine[3]},
    {7, u"GV070WUM-L51", 2, 4, 10, kCatalogueImage4, 13641, kEmbeddedImageCrc[4],
     kEmbeddedImageGenuine[4]},
    {7, u"BW7002A", 2, 5, 12, kCatalogueImage5, 13703, kEmbeddedImageCrc[5],
     kEmbeddedImageGenuine[5]},
    {7, u"H070BWX002", 2, 6, 19, kCatalogueImage6, 14840, kEmbeddedImageCrc[6],
     kEmbeddedImageGenuine[6]},
    {8, u"BW080FH-39B", 2, 7, 12, kCatalogueImage7, 13902, kEmbeddedImageCrc[7],
     kEmbeddedImageGenuine[7]},
    {8, u"XF080J02A-N008", 2, 8, 4, kCatalogueImage8, 13998, kEmbeddedImageCrc[8],
     kEmbeddedImageGenuine[8]},
};

// The images embedded by the build must have the table's lengths and end below the key area
// (flash_layout.h makes the read-back buffer hold everything below it).
static_assert(sizeof(kEmbeddedImageLength) / sizeof(kEmbeddedImageLength[0]) ==
              kCatalogueEntryCount);
static_assert(sizeof(kEmbeddedImageCrc) / sizeof(kEmbeddedImageCrc[0]) == kCatalogueEntryCount);
static_assert(sizeof(kEmbeddedImageGenuine) / sizeof(kEmbeddedImageGenuine[0]) ==
              kCatalogueEntryCount);
constexpr bool ImagesFit() {
  for (uint32_t i = 0; i < kCatalogueEntryCount; ++i) {
    uint32_t length = FirmwareCatalogue[i].length;
    if (kEmbeddedImageLength[i] != length)
      return false;
    if (length >= kHdcpKeyAddress)
      return false;
  }
  return true;
}
static_assert(ImagesFit(), "catalogue images must match the table and end below the key area");

uint8_t SelectEntry(uint8_t requestedCid, uint8_t requestedPid) {
  for (uint8_t i = 0; i < kCatalogueEntryCount; ++i) {
    if (FirmwareCatalogue[i].cid == requestedCid && FirmwareCatalogue[i].pid == requestedPid) {
      SelectedEntryIndex = i;
      break;
    }
  }
  return SelectedEntryIndex;
}

const CatalogueEntry &SelectedEntry() {
  // The index only ever holds values set here, but a bad one must not read past the table.
  if (SelectedEntryIndex >= kCatalogueEntryCount)
    SelectedEntryIndex = kDefaultEntryIndex;
  return FirmwareCatalogue[SelectedEntryIndex];
}

bool ImageIntact(const CatalogueEntry &entry) {
  return Crc32(entry.image, entry.length) == entry.crc;
}

FirmwareVersion EntryVersion(const CatalogueEntry &entry) {
  return FirmwareVersion{entry.cid, entry.pid, entry.txx};
}

void ResetCatalogueSelection() {
  SelectedEntryIndex = kDefaultEntryIndex;
}
