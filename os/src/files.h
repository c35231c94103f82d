// Files written so that a reader never sees half of one and nothing is written through a link:
// a new file beside the target (O_EXCL, no following of links), then renamed over it.
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

bool ReadFile(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);
bool IsFolder(const std::string &path);
bool Exists(const std::string &path);

// `path` through `path`.new; a folder at `path` is refused.
bool WriteFileSafely(const std::string &path, const std::vector<uint8_t> &bytes, mode_t mode,
                     std::string *error);

// `bytes` to `dir`/`name` through `dir`/`temp`, read back from the disk past the page cache and
// compared before the rename.
bool StageFile(const std::vector<uint8_t> &bytes, const std::string &dir, const std::string &name,
               const std::string &temp, std::string *error);
