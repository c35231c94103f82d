#include "esp.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <algorithm>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <blkid/blkid.h>
#include "efivar_c.h"
#include <libmount/libmount.h>

namespace {

constexpr char kEspTypeGpt[] = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";

struct Mount {
  std::string dir;
  std::string source;
  bool automount = false;
};

bool FatType(const char *type) {
  return type != nullptr && (std::strcmp(type, "vfat") == 0 || std::strcmp(type, "msdos") == 0 ||
                             std::strcmp(type, "fat") == 0);
}

// The FAT file systems and automount points, in the mount table's order.
std::vector<Mount> Mounts() {
  std::vector<Mount> mounts;
  std::unique_ptr<libmnt_table, void (*)(libmnt_table *)> table(mnt_new_table(), mnt_unref_table);
  if (!table || mnt_table_parse_mtab(table.get(), nullptr) != 0)
    return mounts;
  std::unique_ptr<libmnt_iter, void (*)(libmnt_iter *)> it(mnt_new_iter(MNT_ITER_FORWARD),
                                                           mnt_free_iter);
  libmnt_fs *fs = nullptr;
  while (it && mnt_table_next_fs(table.get(), it.get(), &fs) == 0) {
    const char *type = mnt_fs_get_fstype(fs);
    const char *target = mnt_fs_get_target(fs);
    const char *source = mnt_fs_get_srcpath(fs);
    if (target == nullptr)
      continue;
    const bool automount = type != nullptr && std::strcmp(type, "autofs") == 0;
    if (FatType(type) || automount)
      mounts.push_back({target, source != nullptr ? source : "", automount});
  }
  return mounts;
}

// Visiting an automount point mounts what is behind it.
void Visit(const std::string &dir) {
  if (DIR *d = opendir(dir.c_str())) {
    const dirent *first = readdir(d); // the visit is the point, not what it finds
    (void)first;
    closedir(d);
  }
}

// Whether an automount point may hide the ESP: where systemd's generator puts it, where fstab
// mounts a FAT file system, or the folder asked for. Others (network homes) are never visited.
bool MayHideEsp(const std::string &dir, const std::string &want) {
  if (dir == "/efi" || dir == "/boot/efi" || dir == "/boot" || dir == want)
    return true;
  std::unique_ptr<libmnt_table, void (*)(libmnt_table *)> fstab(mnt_new_table(), mnt_unref_table);
  if (!fstab || mnt_table_parse_fstab(fstab.get(), nullptr) != 0)
    return false;
  libmnt_fs *fs = mnt_table_find_target(fstab.get(), dir.c_str(), MNT_ITER_BACKWARD);
  return fs != nullptr && FatType(mnt_fs_get_fstype(fs));
}

// The FAT mounts, the automount points that may hide the ESP visited first so that their file
// systems are in the table (an ESP behind one is found at its first use too).
std::vector<Mount> FatMounts(const std::string &want) {
  std::vector<Mount> mounts = Mounts();
  bool visited = false;
  for (const Mount &m : mounts)
    if (m.automount && MayHideEsp(m.dir, want)) {
      Visit(m.dir);
      visited = true;
    }
  if (visited)
    mounts = Mounts();
  std::erase_if(mounts, [](const Mount &m) { return m.automount; });
  return mounts;
}

std::string Value(blkid_probe probe, const char *name) {
  const char *value = nullptr;
  if (blkid_probe_lookup_value(probe, name, &value, nullptr) != 0 || value == nullptr)
    return "";
  return value;
}

// The partition behind `device`: false when it is no partition of a disk.
bool ReadPartition(const std::string &device, Partition *p) {
  std::unique_ptr<blkid_struct_probe, void (*)(blkid_probe)> probe(
      blkid_new_probe_from_filename(device.c_str()), blkid_free_probe);
  if (!probe)
    return false;
  blkid_probe_enable_superblocks(probe.get(), 0);
  blkid_probe_enable_partitions(probe.get(), 1);
  blkid_probe_set_partitions_flags(probe.get(), BLKID_PARTS_ENTRY_DETAILS);
  if (blkid_do_safeprobe(probe.get()) != 0)
    return false;
  const std::string scheme = Value(probe.get(), "PART_ENTRY_SCHEME");
  const std::string number = Value(probe.get(), "PART_ENTRY_NUMBER");
  if (number.empty() || (scheme != "gpt" && scheme != "dos"))
    return false;
  p->number = static_cast<uint32_t>(std::strtoul(number.c_str(), nullptr, 10));
  p->start = std::strtoull(Value(probe.get(), "PART_ENTRY_OFFSET").c_str(), nullptr, 10);
  p->size = std::strtoull(Value(probe.get(), "PART_ENTRY_SIZE").c_str(), nullptr, 10);
  p->uuid = Value(probe.get(), "PART_ENTRY_UUID");
  const std::string type = Value(probe.get(), "PART_ENTRY_TYPE");
  p->gpt = scheme == "gpt";
  const auto signature = SignatureOf(p->uuid);
  if (!signature || (signature->second == 0) != p->gpt)
    return false;
  p->signature = signature->first;
  p->espType = strcasecmp(type.c_str(), p->gpt ? kEspTypeGpt : "0xef") == 0;
  struct stat st {};
  char disk[64] = {};
  dev_t whole = 0;
  if (stat(device.c_str(), &st) == 0 &&
      blkid_devno_to_wholedisk(st.st_rdev, disk, sizeof disk, &whole) == 0)
    p->disk = std::string("/dev/") + disk;
  else
    p->disk = device;
  return true;
}

// For the tests: PANELUPCTL_TEST_ESP is a list of folders (DIR[:DIR...]), each taken as a
// mounted ESP, partition N of /dev/panelup-test with a GUID of its own.
bool TestEsps(std::vector<Partition> *esps) {
  const char *list = std::getenv("PANELUPCTL_TEST_ESP");
  if (list == nullptr || *list == 0)
    return false;
  std::string text = list;
  uint32_t n = 0;
  for (size_t at = 0; at <= text.size();) {
    size_t end = text.find(':', at);
    if (end == std::string::npos)
      end = text.size();
    Partition p;
    p.dir = text.substr(at, end - at);
    p.disk = "/dev/panelup-test";
    p.number = ++n;
    p.start = 2048 + (n - 1) * 131072;
    p.size = 131072;
    char uuid[40];
    std::snprintf(uuid, sizeof uuid, "5e1f7e57-0000-4000-8000-%012x", n);
    p.uuid = uuid;
    p.signature = SignatureOf(uuid)->first;
    p.espType = true;
    esps->push_back(p);
    at = end + 1;
  }
  return true;
}

std::string RealDir(const std::string &dir) {
  const std::unique_ptr<char, void (*)(void *)> real(realpath(dir.c_str(), nullptr), std::free);
  return real ? std::string(real.get()) : std::string();
}

bool IsDir(const std::string &dir) {
  struct stat st {};
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::optional<std::pair<PartitionSignature, uint32_t>> SignatureOf(const std::string &uuid) {
  PartitionSignature s{};
  if (uuid.size() == 36) {
    efi_guid_t guid;
    if (efi_str_to_guid(uuid.c_str(), &guid) != 0)
      return std::nullopt;
    std::memcpy(s.data(), &guid, sizeof guid);
    return std::pair{s, 0u};
  }
  // PTUUID-NN: the disk's 32-bit signature, stored little-endian, and the partition's number.
  if (uuid.size() == 11 && uuid[8] == '-' &&
      uuid.find_first_not_of("0123456789abcdefABCDEF-") == std::string::npos) {
    const auto disk = static_cast<uint32_t>(std::strtoul(uuid.substr(0, 8).c_str(), nullptr, 16));
    for (size_t i = 0; i < 4; ++i)
      s[i] = static_cast<uint8_t>(disk >> (8 * i));
    return std::pair{s, static_cast<uint32_t>(std::strtoul(uuid.substr(9).c_str(), nullptr, 16))};
  }
  return std::nullopt;
}

bool LocateEsp(const std::string &given, const std::string &remembered, Partition *esp,
               std::string *error, std::vector<std::string> *warnings) {
  std::vector<Partition> candidates;
  const bool test = TestEsps(&candidates);
  std::string want;
  if (!given.empty()) {
    want = IsDir(given) ? RealDir(given) : "";
    if (want.empty()) {
      *error = "no EFI system partition at " + given + ": no such folder";
      return false;
    }
  }
  if (!test) {
    for (const Mount &m : FatMounts(want)) {
      Partition p;
      p.dir = m.dir;
      if (!want.empty() && RealDir(m.dir) != want)
        continue;
      if (!ReadPartition(m.source, &p)) {
        if (!want.empty()) {
          *error = m.source + " (at " + m.dir +
                   ") is not a partition of a disk, so no boot entry " + "can point to it";
          return false;
        }
        continue;
      }
      p.dir = m.dir;
      candidates.push_back(p);
    }
  }
  if (!want.empty()) {
    // The last mount on the folder is the one seen there.
    const auto last = std::find_if(candidates.rbegin(), candidates.rend(),
                                   [&](const Partition &p) { return RealDir(p.dir) == want; });
    if (last != candidates.rend()) {
      *esp = *last;
      if (!esp->espType)
        warnings->push_back(esp->disk + " partition " + std::to_string(esp->number) + " at " +
                            esp->dir +
                            " does not carry the EFI system partition type; using it as asked");
      return true;
    }
    *error = given + " is not a mounted FAT file system (the EFI system partition is one)";
    return false;
  }
  if (!remembered.empty()) {
    for (const Partition &p : candidates)
      if (strcasecmp(p.uuid.c_str(), remembered.c_str()) == 0) {
        *esp = p;
        return true;
      }
    *error = "the EFI system partition the update was staged on (PARTUUID " + remembered +
             ") is not mounted: mount it, or name it with --esp DIR";
    return false;
  }
  for (const Partition &p : candidates)
    if (p.espType) {
      *esp = p;
      return true;
    }
  *error = "no EFI system partition is mounted (usually at /boot/efi or /efi): mount it, or name "
           "it with --esp DIR";
  return false;
}
