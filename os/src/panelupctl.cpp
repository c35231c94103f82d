// panelupctl: runs a Panelup.efi update at the next boot of this machine and reads its result
// once Linux is back. See panelupctl(8) (os/panelupctl.8 in the tree), or --help.
//
// Exit status: schedule, cancel and install 0 done, 1 refused or failed, 2 usage. status: the
// update's own exit status when there is a record, 3 no record yet, 4 a record this panelupctl
// cannot read, 5 the boot that was to run the update passed without a record
// (formats/exit_status.h).
//
// For tests only (tests/panelupctl), never set on a real machine: EFIVARFS_PATH (libefivar's:
// a folder in efivarfs's place; its parent stands for /sys/firmware/efi), PANELUPCTL_TEST_ESP
// (folders taken as mounted ESPs, esp.cpp), PANELUPCTL_STATE (in /var/lib/panelup's place).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bridge.h"
#include "efi.h"
#include "esp.h"
#include "files.h"
#include "formats/catalogue_file.h"
#include "formats/exit_status.h"
#include "formats/result_record.h"
#include "formats/schedule.h"
#include "image.h"
#include "panelup_build_id.h"

namespace {

using Json = nlohmann::ordered_json;
using Args = std::vector<std::string>;

constexpr char kLabel[] = "Panelup update";
constexpr char kStagedDir[] = "EFI/Panelup";
constexpr char kStagedName[] = "Panelup.efi";
constexpr char kTempName[] = "Panelup.new";
constexpr char kUnitName[] = "panelup-result.service";

std::string gMe = "panelupctl";
std::string gMyDir = ".";
// --json: every outcome, refusals included, is one object on stdout; the text goes to stderr.
bool gJson = false;
// schedule and cancel: whether their JSON object says "changed" (a refusal never changed it).
bool gSaysChanged = false;
std::string gSaveFile;
bool gSaveFailed = false;

std::string StateDir() {
  const char *dir = std::getenv("PANELUPCTL_STATE");
  return dir != nullptr && *dir != 0 ? dir : "/var/lib/panelup";
}
std::string MarkerPath() {
  return StateDir() + "/scheduled";
}

// Where the text goes: stderr while stdout carries the one JSON object.
FILE *Out() {
  return gJson ? stderr : stdout;
}
void Say(const std::string &text) {
  std::fprintf(Out(), "%s\n", text.c_str());
}
void Warn(const std::string &text) {
  std::fprintf(stderr, "%s: %s\n", gMe.c_str(), text.c_str());
}

// The end of a command that did not get to its result.
struct Stop {
  int status;
  std::string word;
  std::string reason;
};
[[noreturn]] void Refuse(const std::string &reason) {
  throw Stop{kCtlRefused, "refused", reason};
}
[[noreturn]] void UsageError(const std::string &reason) {
  throw Stop{kCtlUsage, "usage-error", reason};
}

std::vector<uint8_t> Bytes(const std::string &text) {
  return {text.begin(), text.end()};
}

// The one object of status --json on stdout, and with --save in FILE as well. A failed save is
// remembered for Finish. Invalid UTF-8 (a path's bytes) becomes U+FFFD, the rest stays UTF-8.
void EmitJson(const Json &object) {
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  if (gSaveFile.empty())
    return;
  std::string error;
  if (!WriteFileSafely(gSaveFile, Bytes(text), 0644, &error)) {
    Warn("cannot write " + gSaveFile + ": " + error);
    gSaveFailed = true;
  }
}

// Never a status that reads as "nothing wrong" (0, or 3 for a result still to come) when --save
// could not write its file: whoever reads the file would see an old outcome.
int Finish(int status) {
  if (gSaveFailed && (status == kExitOk || status == kCtlNoRecord))
    return kCtlRefused;
  return status;
}

// An option's value: never a word that is an option itself (a name starting with '-' is written
// ./-NAME).
std::string Value(const Args &args, size_t &i, const std::string &needs) {
  if (i + 1 >= args.size() || args[i + 1].empty() || args[i + 1][0] == '-')
    UsageError(args[i] + " needs " + needs);
  return args[++i];
}

// A byte as decimal text, 0..255, leading zeros allowed (never octal).
std::optional<uint8_t> ByteOf(const std::string &text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  const int v = std::stoi(text);
  if (v > 255)
    return std::nullopt;
  return static_cast<uint8_t>(v);
}

std::string TwoDigits(unsigned v) {
  char text[8];
  std::snprintf(text, sizeof text, "%02u", v);
  return text;
}
std::string VersionText(const RecordVersion &v) {
  return TwoDigits(v.cid) + "." + TwoDigits(v.pid) + "." + TwoDigits(v.txx);
}

// --- The machine ---

std::string FirmwareFolder() {
  std::string vars = EfivarsFolder();
  vars.pop_back();
  return vars.substr(0, vars.find_last_of('/'));
}

void RequireUefi() {
  const std::string vars = EfivarsFolder();
  if (!IsFolder(FirmwareFolder()))
    Refuse("this system was not booted in UEFI mode (" + FirmwareFolder() +
           " is missing): no boot entry can run Panelup.efi");
  bool any = false;
  if (IsFolder(vars))
    for (const auto &e : std::filesystem::directory_iterator(
             vars, std::filesystem::directory_options::skip_permission_denied)) {
      (void)e;
      any = true;
      break;
    }
  if (!any)
    Refuse("UEFI variables are not available: mount efivarfs (mount -t efivarfs efivarfs " +
           vars.substr(0, vars.size() - 1) + ")");
}

bool Root() {
  return geteuid() == 0;
}
void RequireRoot() {
  if (!Root())
    Refuse("must be run as root (it changes boot entries and the EFI system partition)");
}

// schedule, status (as root) and cancel one at a time: each reads the entries, the record and
// the image and changes them after. Held until the process ends.
void Lock() {
  const std::string dir = StateDir();
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  const std::string path = dir + "/lock";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0 || flock(fd, LOCK_EX) != 0)
    Refuse("cannot lock " + path + ": " + std::strerror(errno));
}

// The ESP's PARTUUID that schedule left in the marker ("" without one).
std::string RememberedEsp() {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadFile(MarkerPath(), &bytes, &error) || bytes.size() > 64)
    return "";
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && text.back() == '\n')
    text.pop_back();
  if (text.find_first_not_of("0123456789abcdefABCDEF-") != std::string::npos)
    return "";
  return text;
}

// Where our image is: the ESP asked for, else the one schedule used, else the first one.
struct Target {
  std::optional<Partition> esp;
  std::string espError;
  std::vector<std::pair<PartitionSignature, uint32_t>> ours; // partitions whose entries are ours
};

Target FindTarget(const std::string &given, bool warn = true) {
  Target t;
  const std::string remembered = given.empty() ? RememberedEsp() : "";
  Partition esp;
  std::vector<std::string> warnings;
  if (LocateEsp(given, remembered, &esp, &t.espError, &warnings)) {
    t.esp = esp;
    t.ours.emplace_back(esp.signature, esp.gpt ? 0u : esp.number);
  }
  if (warn)
    for (const std::string &w : warnings)
      Warn(w);
  if (const auto s = SignatureOf(RememberedEsp()))
    t.ours.push_back(*s);
  return t;
}

bool IsOurs(const Target &t, const BootEntry &e) {
  if (!e.valid)
    return false;
  for (const auto &[signature, number] : t.ours)
    if (StartsOurImage(e.option, signature) && (number == 0 || e.option.partitionNumber == number))
      return true;
  return false;
}

std::vector<uint16_t> Ours(const Target &t, const BootEntries &list) {
  std::vector<uint16_t> numbers;
  for (const BootEntry &e : list.entries)
    if (IsOurs(t, e))
      numbers.push_back(e.number);
  return numbers;
}

bool Contains(const std::vector<uint16_t> &v, std::optional<uint16_t> n) {
  return n && std::find(v.begin(), v.end(), *n) != v.end();
}

std::string Hex4(uint16_t n) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", n);
  return text;
}

// Removes BootNext when it points to one of ours, then ours; says what went on `out`. The first
// failure is returned, and nothing after it is tried.
std::string RemoveEntries(const std::vector<uint16_t> &ours, const BootEntries &list, FILE *out) {
  std::string error;
  for (uint16_t n : ours) {
    if (list.next && *list.next == n) {
      if (!DeleteBootNext(&error))
        return "could not remove BootNext (Boot" + Hex4(n) + "): " + error;
      std::fprintf(out, "Removed BootNext (Boot%s).\n", Hex4(n).c_str());
    }
    if (!DeleteBootEntry(n, &error))
      return "could not remove boot entry Boot" + Hex4(n) + " \"" + kLabel + "\": " + error;
    std::fprintf(out, "Removed boot entry Boot%s \"%s\".\n", Hex4(n).c_str(), kLabel);
  }
  return "";
}

void RemoveMarker() {
  if (Exists(MarkerPath()) && unlink(MarkerPath().c_str()) != 0)
    Warn("cannot remove " + MarkerPath());
}

std::string RemoveSchedule() {
  std::string error;
  DeleteVariable(RecordGuid(), kScheduleVariable, &error);
  return error;
}

// The staged image (and its folder when empty) off the ESP; the reason when it stays, or when
// there is no ESP to look at.
std::string RemoveStaged(const Target &t, FILE *out) {
  if (!t.esp)
    return "cannot look for the staged image: " + t.espError;
  const std::string dir = t.esp->dir + "/" + kStagedDir;
  const std::string image = dir + "/" + kStagedName;
  const std::string temp = dir + "/" + kTempName;
  if (Exists(image) || Exists(temp)) {
    if ((Exists(image) && unlink(image.c_str()) != 0) ||
        (Exists(temp) && unlink(temp.c_str()) != 0))
      return std::string("cannot remove ") + kStagedPath + " from " + t.esp->dir;
    std::fprintf(out, "Removed %s from %s.\n", kStagedPath, t.esp->dir.c_str());
  }
  rmdir(dir.c_str());
  return "";
}

enum class SecureBoot { Off, On, Unknown };
SecureBoot SecureBootState() {
  const Variable v = ReadVariable(GlobalGuid(), "SecureBoot");
  if (v.state == Variable::State::Absent)
    return SecureBoot::Off;
  if (v.state == Variable::State::Present && v.data.size() == 1 && v.data[0] <= 1)
    return v.data[0] == 1 ? SecureBoot::On : SecureBoot::Off;
  return SecureBoot::Unknown;
}

// --- The image ---

std::string Folder(const std::string &path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string DefaultImage() {
  for (const std::string &dir :
       {gMyDir, gMyDir + "/../lib/panelup", std::string("/usr/local/lib/panelup")}) {
    const std::filesystem::path p = std::filesystem::path(dir).lexically_normal();
    std::string text = p.string();
    while (text.size() > 1 && text.back() == '/')
      text.pop_back();
    if (Exists(text + "/" + kStagedName) && !IsFolder(text + "/" + kStagedName))
      return text + "/" + kStagedName;
  }
  return "/usr/local/lib/panelup/Panelup.efi";
}

void DescribeImage(const std::string &what, const std::string &path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!Exists(path) || IsFolder(path) || !ReadFile(path, &bytes, &error)) {
    Say(what + ": none at " + path);
    return;
  }
  const auto mark = ReadBuildMark(bytes);
  if (!mark)
    Say(what + ": " + path + ", no build mark (not a Panelup.efi of a marked build)");
  else if (mark->genuine)
    Say(what + ": " + path + ", build " + mark->id + ", genuine images");
  else
    Say(what + ": " + path + ", build " + mark->id + ", TEST PATTERNS (for the emulator only)");
}

struct CataloguePair {
  bool found = false;
  std::string model;
  std::string version;
  std::string pairs;
  std::string error;
};

CataloguePair FindPair(const std::string &file, uint8_t cid, uint8_t pid) {
  CataloguePair r;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!Exists(file) || !ReadFile(file, &bytes, &error)) {
    r.error = "no catalogue " + file + " beside the image";
    return r;
  }
  const std::string text(bytes.begin(), bytes.end());
  size_t at = 0;
  int n = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos)
      end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (++n == 1) {
      if (line != kCatalogueHeader) {
        r.error = file + " is not a catalogue this panelupctl reads (its first line is not " +
                  kCatalogueHeader + ")";
        return r;
      }
      continue;
    }
    CatalogueLine entry{};
    ParseCatalogueLine(line.data(), static_cast<uint32_t>(line.size()), &entry);
    if (!entry.entry)
      continue;
    if (!entry.hasCid || !entry.hasPid) {
      r.error =
          file + " line " + std::to_string(n) + " is an entry without a CID and PID from 0 to 255";
      return r;
    }
    r.pairs +=
        (r.pairs.empty() ? "" : ", ") + std::to_string(entry.cid) + "/" + std::to_string(entry.pid);
    if (entry.cid == cid && entry.pid == pid && !r.found) {
      r.found = true;
      r.model = entry.model;
      if (entry.hasTxx)
        r.version = VersionText({entry.cid, entry.pid, entry.txx});
    }
  }
  if (n == 0)
    r.error = file + " is not a catalogue this panelupctl reads (its first line is not " +
              kCatalogueHeader + ")";
  return r;
}

// --- The result record ---

struct RecordRead {
  enum class State { None, Unreadable, Good } state = State::None;
  std::string why;
  std::string text;
  ResultRecord record{};
};

const char *ProblemText(RecordProblem p) {
  switch (p) {
  case RecordProblem::NotText:
    return "it holds bytes that are not printable ASCII";
  case RecordProblem::TooLong:
    return "it is longer than any record";
  case RecordProblem::UnknownForm:
    return "it is not in a form this panelupctl reads";
  case RecordProblem::NotInForm:
    return "it is not in the form of a panelup-result/1 or /2 record";
  case RecordProblem::ByteRange:
    return "its CID or PID is above 255";
  case RecordProblem::NotACalendar:
    return "its time is not a date and time the calendar has";
  case RecordProblem::NotThisTool:
    return "its fields are not ones a run of Panelup.efi writes together";
  case RecordProblem::ExitStatus:
  case RecordProblem::None:
    break;
  }
  return "";
}

RecordRead ReadRecord() {
  RecordRead r;
  const Variable v = ReadVariable(RecordGuid(), kResultRecordVariable);
  if (v.state == Variable::State::Absent)
    return r;
  r.state = RecordRead::State::Unreadable;
  if (v.state == Variable::State::Unreadable) {
    r.why = v.error;
    return r;
  }
  if (v.attributes != kRecordAttributes) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%02x%02x%02x%02x", v.attributes & 0xFF,
                  v.attributes >> 8 & 0xFF, v.attributes >> 16 & 0xFF, v.attributes >> 24);
    r.why = std::string("its attribute bytes are ") + hex + ", not NV+BS+RT (07000000)";
    return r;
  }
  for (uint8_t b : v.data)
    if (b >= 0x20 && b <= 0x7e && r.text.size() < 200)
      r.text.push_back(static_cast<char>(b));
  const RecordProblem p = ParseResultRecord(reinterpret_cast<const char *>(v.data.data()),
                                            static_cast<uint32_t>(v.data.size()), &r.record);
  if (p == RecordProblem::ExitStatus) {
    // The status as the record spells it, for the message.
    const size_t at = r.text.find(" exit=");
    const std::string code =
        at == std::string::npos ? "" : r.text.substr(at + 6, r.text.find(' ', at + 6) - at - 6);
    r.why = "exit status " + code + " is not one Panelup.efi /f gives";
  } else if (p != RecordProblem::None) {
    r.why = ProblemText(p);
  } else {
    r.state = RecordRead::State::Good;
  }
  return r;
}

struct Words {
  std::string word;
  std::string sentence;
};
Words ResultWords(const ResultRecord &r) {
  switch (r.exit) {
  case kExitOk:
    return {"success", "update passed"};
  case kExitCompareFailed:
    return {
        "compare-failed",
        std::string("update failed: the flash did not read back as written; schedule the update "
                    "again and reboot") +
            (r.form == 2 && r.then == BootEnd::PowerCycle ? "" : " before any power-off")};
  case kExitStoppedBeforeErase:
    return {"stopped-before-erase",
            "stopped before the erase: the key area could not be kept safe, or this copy of "
            "Panelup.efi is damaged; nothing was erased"};
  case kExitWrongChipOrSwitch:
    return {"wrong-chip-id",
            "wrong chip id: the chip is not the bridge Panelup updates; nothing was erased"};
  default:
    return {"no-smbus-controller",
            "no SMBus controller found: the firmware offers none; nothing was done"};
  }
}

// Why the boot that was to run the update left no record, once BootNext is used up and our entry
// is still there. The tool deletes its settings when it starts: settings still there mean it
// never started.
std::pair<std::string, std::string> MissedBoot(const Target &t) {
  if (ReadVariable(RecordGuid(), kScheduleVariable).state == Variable::State::Absent)
    return {"interrupted",
            "Panelup.efi started and took its settings, but no result came back: the power failed "
            "or the machine was reset during the update, and the panel's flash may hold a partial "
            "image; schedule the same update again and reboot"};
  std::string why = "the firmware did not start it (its boot log may say why)";
  const SecureBoot sb = SecureBootState();
  const std::string staged = t.esp ? t.esp->dir + "/" + kStagedDir + "/" + kStagedName : "";
  std::vector<uint8_t> bytes;
  std::string error;
  if (!t.esp) {
    why += "; the ESP could not be checked: " + t.espError;
  } else if (!Exists(staged) || IsFolder(staged) || !ReadFile(staged, &bytes, &error)) {
    why = std::string("the staged image ") + kStagedPath + " is missing from " + t.esp->dir;
  } else if (sb != SecureBoot::Off) {
    const ImageCheck check = CheckImage(bytes);
    if (!check.loadable)
      why = "the staged image is not a UEFI image: " + check.why;
    else if (!check.signedImage)
      why = "Secure Boot is on and the staged image carries no signature";
    else
      why = "Secure Boot is on: the staged image's signature is not from a key in the firmware's "
            "db, or it was revoked";
  }
  return {"never-ran",
          "the boot that was to run Panelup.efi passed without starting it: " + why +
              "; nothing was done to the panel. Fix that, then schedule the update again"};
}

// --- The panel, read over the SMBus ---

// What the bridge answers on the adapter named (or the chipset's), for inventory, schedule and
// status. The caller holds the lock: the chip answers one host at a time.
struct PanelRead {
  int number = -1;
  std::string name;
  std::string error; // the adapter or the bus could not be used at all
  BridgeReading bridge;
  std::string Where() const { return "i2c-" + std::to_string(number) + " (" + name + ")"; }
  // Why no version was read, for a sentence; empty when one was.
  std::string Why() const {
    if (!error.empty())
      return error;
    return bridge.found ? "" : "no bridge found on " + Where() + ": " + bridge.why;
  }
  RecordVersion Running() const { return {bridge.cid, bridge.pid, bridge.txx}; }
};

PanelRead ReadPanel(const std::string &adapter) {
  PanelRead p;
  if (!FindAdapter(adapter, &p.number, &p.name, &p.error) ||
      !ReadBridge(p.number, &p.bridge, &p.error))
    return p;
  if (p.bridge.accessKept)
    Warn(p.bridge.why + ": the panel's firmware stays stopped until the next power-off");
  return p;
}

Json RunningJson(const PanelRead &p) {
  if (!p.bridge.found)
    return nullptr;
  return {{"cid", p.bridge.cid},
          {"pid", p.bridge.pid},
          {"txx", p.bridge.txx},
          {"version", VersionText(p.Running())}};
}

// --- Commands ---

int Status(const Args &args) {
  bool keep = false;
  std::string given;
  std::string adapter;
  for (const std::string &a : args)
    if (a == "--json" || a == "--save")
      gJson = true;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json")
      continue;
    if (args[i] == "--save")
      gSaveFile = Value(args, i, "a file");
    else if (args[i] == "--keep")
      keep = true;
    else if (args[i] == "--esp")
      given = Value(args, i, "a folder");
    else if (args[i] == "--adapter")
      adapter = Value(args, i, "an adapter's name or number");
    else
      UsageError("unknown argument '" + args[i] + "' for status");
  }
  RequireUefi();
  if (Root())
    Lock();

  const RecordRead record = ReadRecord();
  const Target target = FindTarget(given, record.state == RecordRead::State::Good);
  BootEntries list;
  std::string listError;
  const bool listed = ListBootEntries(&list, &listError);
  const std::vector<uint16_t> ours = listed ? Ours(target, list) : std::vector<uint16_t>{};

  if (record.state == RecordRead::State::None) {
    if (!listed) {
      // An update scheduled and the entries unknown: it may have run and been cut short, so this
      // is never "not yet".
      if (Exists(MarkerPath()))
        Refuse("an update was scheduled (" + MarkerPath() +
               "), but the boot entries cannot be "
               "read (" +
               listError + "): whether it ran, and how, is unknown");
      if (gJson)
        EmitJson({{"result", "no-record"}, {"scheduled", nullptr}});
      Warn("the boot entries cannot be read (" + listError +
           "): whether an update is scheduled is unknown");
      if (!gJson)
        Say("No result; whether an update is scheduled is unknown: the boot entries cannot be "
            "read.");
      return Finish(kCtlNoRecord);
    }
    const bool scheduled = Contains(ours, list.next);
    if (ours.empty() && Root())
      RemoveMarker();
    if (!scheduled && !ours.empty()) {
      const auto [word, reason] = MissedBoot(target);
      if (gJson)
        EmitJson({{"result", word}, {"scheduled", false}, {"reason", reason}});
      else
        Say("No result: " + reason + ".");
      return Finish(kCtlMissedBoot);
    }
    if (gJson)
      EmitJson({{"result", "no-record"}, {"scheduled", scheduled}});
    else if (scheduled)
      Say(std::string("No result yet: an update is scheduled for the next boot (boot entry \"") +
          kLabel + "\"); reboot to run it.");
    else
      Say("No result: no update has run since the last '" + gMe +
          " schedule' (or none was scheduled).");
    return Finish(kCtlNoRecord);
  }

  std::string why = record.why;
  const ResultRecord &r = record.record;
  if (record.state == RecordRead::State::Good && listed)
    for (const BootEntry &e : list.entries)
      if (IsOurs(target, e) && e.option.pair &&
          ((*e.option.pair)[0] != r.cid || (*e.option.pair)[1] != r.pid))
        why = "it is the result of /f " + std::to_string(r.cid) + " " + std::to_string(r.pid) +
              ", but /f " + std::to_string((*e.option.pair)[0]) + " " +
              std::to_string((*e.option.pair)[1]) + " was scheduled";
  if (!why.empty()) {
    if (!record.text.empty())
      Warn("the record reads: '" + record.text + "'");
    if (gJson)
      EmitJson({{"result", "unreadable"}, {"reason", why}});
    else
      Say("The last result cannot be read: " + why + ".");
    return Finish(kCtlUnreadable);
  }

  // What the panel runs is what the chip answers, never what the way the run ended suggests: a
  // power-off that did not happen, or firmware that never started, would look the same.
  PanelRead panel;
  if (Root())
    panel = ReadPanel(adapter);
  else
    panel.error = "not root: the bridge is read only as root";
  const bool measured = panel.bridge.found;
  const bool newRunning =
      measured && r.exit == kExitOk && r.hasTo && VersionText(panel.Running()) == VersionText(r.to);
  const Words words = ResultWords(r);
  const std::string time = r.hasTime
                               ? std::to_string(r.time.year) + "-" + TwoDigits(r.time.month) + "-" +
                                     TwoDigits(r.time.day) + "T" + TwoDigits(r.time.hour) + ":" +
                                     TwoDigits(r.time.minute) + ":" + TwoDigits(r.time.second)
                               : "none";
  auto orNull = [](bool has, const std::string &text) { return has ? Json(text) : Json(nullptr); };
  if (gJson) {
    Json o;
    o["cid"] = r.cid;
    o["pid"] = r.pid;
    o["exit"] = r.exit;
    o["result"] = words.word;
    o["from"] = orNull(r.hasFrom, VersionText(r.from));
    o["to"] = orNull(r.hasTo, VersionText(r.to));
    o["time"] = orNull(r.hasTime, time);
    o["then"] = orNull(r.form == 2, BootEndName(r.then));
    o["attempts"] = r.form == 2 ? Json(r.attempts) : Json(nullptr);
    o["build"] = orNull(r.form == 2, r.build);
    o["running"] = RunningJson(panel);
    o["new_firmware_running"] = measured ? Json(newRunning) : Json(nullptr);
    EmitJson(o);
  } else {
    Say("Panelup /f " + std::to_string(r.cid) + " " + std::to_string(r.pid) + ": " +
        words.sentence + " (exit status " + std::to_string(r.exit) + ").");
    Say("  firmware on board before: " + (r.hasFrom ? VersionText(r.from) : "none"));
    Say("  firmware written:         " + (r.hasTo ? VersionText(r.to) : "none"));
    Say("  run at:                   " + time + " (firmware clock)");
    if (r.form == 2) {
      const char *did = r.then == BootEnd::PowerCycle ? "powered the machine off and on again"
                        : r.then == BootEnd::Reboot   ? "restarted the machine"
                                                      : "returned to the firmware's boot manager";
      Say("  attempts:                 " + std::to_string(r.attempts));
      Say(std::string("  afterwards the tool:      ") + did);
      Say(std::string("  Panelup.efi build:        ") + r.build);
    }
    Say("  the panel runs now:       " +
        (measured ? VersionText(panel.Running()) : "not read (" + panel.Why() + ")"));
    if (newRunning)
      Say("The panel runs its new firmware: the chip answers " + VersionText(r.to) + ".");
    else if (r.exit == kExitOk && measured)
      Say("The panel still runs " + VersionText(panel.Running()) +
          ": the new firmware starts after the next power-off and power-on (a restart is not "
          "enough).");
    else if (r.exit == kExitOk)
      Say("Whether the panel runs its new firmware is unknown: the bridge was not read. It starts "
          "after the first power-off and power-on since the update (a restart is not enough).");
  }
  std::fflush(stdout);

  // The entry has done its work; tidy up where we can. All of it goes to stderr, so --json stays
  // one object on stdout, and a failure here is a warning: the exit status is the update's.
  if (!Root()) {
    Warn("not root: the boot entry and the staged image are left as they are");
    return Finish(r.exit);
  }
  if (!listed) {
    Warn("the boot entries cannot be read (" + listError + "): the boot entry \"" + kLabel +
         "\" is left as it is");
  } else {
    const std::string error = RemoveEntries(ours, list, stderr);
    if (!error.empty())
      Warn(error + "; it is left as it is");
    else
      RemoveMarker();
  }
  // Settings a tool of an older build left behind, or that a run from the shell did not take.
  const std::string scheduleError = RemoveSchedule();
  if (!scheduleError.empty())
    Warn(scheduleError);
  if (!keep) {
    const std::string error = RemoveStaged(target, stderr);
    if (!error.empty())
      Warn(error);
  }
  return Finish(r.exit);
}

std::string Catalogue(const std::string &efi) {
  return (efi.find('/') == std::string::npos ? std::string() : Folder(efi) + "/") +
         kCatalogueFileName;
}

int ScheduleCommand(const Args &args) {
  std::string efi;
  std::string given;
  std::string thenText = "reboot";
  std::string attemptsText = "3";
  std::string adapter;
  bool anyPair = false;
  bool force = false;
  bool reflash = false;
  bool testImages = false;
  Args positional;
  gSaysChanged = true;
  for (const std::string &a : args)
    gJson = gJson || a == "--json";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &a = args[i];
    if (a == "--json")
      continue;
    if (a == "--test-images")
      testImages = true;
    else if (a == "--reflash")
      reflash = true;
    else if (a == "--adapter")
      adapter = Value(args, i, "an adapter's name or number");
    else if (a == "--efi")
      efi = Value(args, i, "a file");
    else if (a == "--esp")
      given = Value(args, i, "a folder");
    else if (a == "--then")
      thenText = i + 1 < args.size() ? args[++i] : "";
    else if (a == "--attempts")
      attemptsText = i + 1 < args.size() ? args[++i] : "";
    else if (a == "--any-pair")
      anyPair = true;
    else if (a == "--force")
      force = true;
    else if (!a.empty() && a[0] == '-')
      UsageError("unknown option '" + a + "' for schedule");
    else
      positional.push_back(a);
  }
  if (positional.size() != 2 && !positional.empty())
    UsageError("schedule takes CID and PID, or neither for the panel's own, e.g. '" + gMe +
               " schedule 2 6'");
  const bool pairGiven = !positional.empty();
  std::optional<uint8_t> cid;
  std::optional<uint8_t> pid;
  if (pairGiven) {
    cid = ByteOf(positional[0]);
    if (!cid)
      UsageError("CID must be a decimal number from 0 to 255, not '" + positional[0] + "'");
    pid = ByteOf(positional[1]);
    if (!pid)
      UsageError("PID must be a decimal number from 0 to 255, not '" + positional[1] + "'");
  }
  Schedule schedule{BootEnd::Reboot, 3};
  if (thenText == "power-cycle")
    schedule.then = BootEnd::PowerCycle;
  else if (thenText == "return")
    schedule.then = BootEnd::Return;
  else if (thenText != "reboot")
    UsageError("--then must be reboot, power-cycle or return, not '" + thenText + "'");
  if (attemptsText.size() != 1 || attemptsText[0] < '1' || attemptsText[0] > '9')
    UsageError("--attempts must be a number from 1 to 9, not '" + attemptsText + "'");
  schedule.attempts = static_cast<uint8_t>(attemptsText[0] - '0');

  // Every check first: nothing changes until all of them passed.
  RequireUefi();
  RequireRoot();
  Lock();
  if (efi.empty())
    efi = DefaultImage();
  std::vector<uint8_t> image;
  std::string error;
  if (!Exists(efi) || IsFolder(efi))
    Refuse("no Panelup.efi to stage at " + efi + ": name one with --efi FILE");
  if (!ReadFile(efi, &image, &error))
    Refuse(error);

  // A build without the genuine images flashes only the simulator's chip: on this machine it
  // would stop with 254 at the reboot, so it is not scheduled unless a test asks for it.
  const auto mark = ReadBuildMark(image);
  if ((!mark || !mark->genuine) && !testImages) {
    if (mark)
      Refuse(efi + " is a test build (" + mark->id +
             "): its images are test patterns, for the "
             "emulator only; build with the genuine images (README: Building for real panels), or "
             "give --test-images in a test rig");
    Refuse(efi + " carries no build mark, so whether its images are genuine is unknown: stage a "
                 "Panelup.efi of a current build, or give --test-images in a test rig");
  }
  // An image the firmware will not start leaves no result, only a boot gone by.
  const ImageCheck check = CheckImage(image);
  if (!check.loadable)
    Refuse(efi + " is not a UEFI image this machine starts (" + check.why + "): no firmware " +
           "starts it; nothing staged");
  const SecureBoot sb = SecureBootState();
  if (!check.signedImage && sb != SecureBoot::Off) {
    const std::string on = sb == SecureBoot::On
                               ? "Secure Boot is on"
                               : "Secure Boot may be on (the SecureBoot variable is not 0 or 1)";
    if (!force)
      Refuse(on + " and " + efi +
             " carries no signature: the firmware would refuse it at the "
             "reboot; sign it (README: Signing for Secure Boot) and stage the signed copy with "
             "--efi, or give --force when the firmware's db holds this image's hash");
    Warn(on + " and " + efi + " carries no signature; staged all the same, as --force asks");
  }

  // The panel's own pair and version, from the chip. A pair typed wrong flashes another panel's
  // image, and an update the panel does not need only wears its flash.
  const PanelRead panel = ReadPanel(adapter);
  const std::string read =
      panel.bridge.found
          ? "the panel (" + panel.Where() + ") is CID/PID " + std::to_string(panel.bridge.cid) +
                "/" + std::to_string(panel.bridge.pid) + " and runs " + VersionText(panel.Running())
          : "";
  if (!pairGiven) {
    if (!panel.error.empty())
      Refuse(panel.error + ": the panel's CID and PID cannot be read; give them");
    if (!panel.bridge.found)
      throw Stop{kCtlNoBridge, "no-bridge",
                 panel.Why() + ": the panel's CID and PID cannot be read; give them"};
    cid = panel.bridge.cid;
    pid = panel.bridge.pid;
  } else if (!panel.bridge.found) {
    Warn("the pair cannot be checked against the panel (" + panel.Why() + ")");
  } else if (panel.bridge.cid != *cid || panel.bridge.pid != *pid) {
    if (!force)
      Refuse(read + ", not " + std::to_string(*cid) + "/" + std::to_string(*pid) +
             ": that pair's image is another panel's; leave the pair out to update this panel, "
             "or give --force");
    Warn(read + "; /f " + std::to_string(*cid) + " " + std::to_string(*pid) +
         " scheduled all the same, as --force asks");
  }

  // A pair the tool does not carry is flashed as its default entry: almost always a typo.
  const std::string pair = std::to_string(*cid) + "/" + std::to_string(*pid);
  const CataloguePair found = FindPair(Catalogue(efi), *cid, *pid);
  if (!anyPair) {
    if (!found.error.empty())
      Refuse(found.error + ", so CID/PID " + pair + " cannot be checked: copy it from the build " +
             "(build/uefi/" + kCatalogueFileName + ") beside the image, or give --any-pair");
    if (!found.found)
      Refuse("CID/PID " + pair + " is not in the catalogue of " + efi + " (" + found.pairs +
             "): Panelup.efi would flash its default entry instead; give --any-pair if that is "
             "meant");
  } else if (!found.error.empty()) {
    Warn(found.error + "; CID/PID " + pair + " is scheduled unchecked, as --any-pair asks");
  } else if (!found.found) {
    Warn("CID/PID " + pair + " is not in the catalogue of " + efi +
         ": Panelup.efi flashes its default entry, as --any-pair asks");
  }
  std::string about;
  if (found.found)
    about = " (" + (found.model.empty() ? std::string("model unknown") : found.model) +
            (found.version.empty() ? "" : ", firmware " + found.version) + ")";
  const Json runningJson = panel.bridge.found ? Json(VersionText(panel.Running())) : Json(nullptr);
  const Json targetJson =
      found.found && !found.version.empty() ? Json(found.version) : Json(nullptr);
  // schedule --json's object, for both ends: nothing to do, or scheduled.
  const auto answer = [&](const char *result, bool changed) {
    return Json{{"result", result}, {"changed", changed},     {"cid", *cid},
                {"pid", *pid},      {"running", runningJson}, {"target", targetJson}};
  };
  const bool ownPair = panel.bridge.found && panel.bridge.cid == *cid && panel.bridge.pid == *pid;
  if (ownPair && found.found && found.version == VersionText(panel.Running()) && !reflash) {
    if (gJson)
      EmitJson(answer("current", false));
    Say("T" + read.substr(1) +
        ", the catalogue's firmware for it: nothing scheduled, nothing changed (--reflash "
        "writes it again).");
    return kExitOk;
  }

  Partition esp;
  std::vector<std::string> warnings;
  if (!LocateEsp(given, "", &esp, &error, &warnings))
    Refuse(error);
  for (const std::string &w : warnings)
    Warn(w);
  // Ours: on this ESP, and on the one an earlier schedule used.
  Target target = FindTarget(given, false);
  target.esp = esp;
  target.ours.emplace_back(esp.signature, esp.gpt ? 0u : esp.number);

  BootEntries list;
  if (!ListBootEntries(&list, &error))
    Refuse("cannot list the boot entries (" + error + "): nothing changed");
  std::vector<uint16_t> ours = Ours(target, list);
  if (list.next && !Contains(ours, list.next)) {
    std::string label;
    for (const BootEntry &e : list.entries)
      if (e.number == *list.next)
        label = e.option.label;
    const std::string other = "Boot" + Hex4(*list.next) + " \"" + label + "\"";
    if (!force)
      Refuse("BootNext already points to " + other +
             ", which is not ours: the machine has another "
             "plan for its next boot; give --force to replace it");
    Warn("replacing BootNext=" + other + ", as --force asks");
  }

  // Copied under a temporary name and checked before it takes the real name, so the entry never
  // points to a half-written image.
  const std::string dir = esp.dir + "/" + kStagedDir;
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec || !IsFolder(dir))
    Refuse("cannot create " + dir);
  if (!StageFile(image, dir, kStagedName, kTempName, &error))
    Refuse("cannot stage " + efi + " on the ESP: " + error + ": nothing scheduled");
  Say("Staged " + efi + " as " + kStagedPath + " on " + esp.disk + " partition " +
      std::to_string(esp.number) + " (" + esp.dir + ").");

  if (!DeleteVariable(RecordGuid(), kResultRecordVariable, &error))
    Refuse("cannot remove the old result: " + error);

  // Settings first, then the entry, then BootNext: the firmware never has a next boot into
  // Panelup.efi whose settings are not the ones asked for. Each failure undoes what went before.
  error = RemoveEntries(ours, list, Out());
  if (!error.empty())
    Refuse(error + "; no new entry was made");
  auto undo = [] {
    const std::string e = RemoveSchedule();
    if (!e.empty())
      Warn(e);
  };
  char line[kScheduleBytes] = {};
  const std::vector<uint8_t> settings(line, line + FormatSchedule(schedule, line));
  error = RemoveSchedule();
  if (!error.empty())
    Refuse("cannot replace the earlier settings: " + error +
           ": no boot entry was made, nothing "
           "runs at the next boot");
  std::string writeError;
  const bool written =
      WriteVariable(RecordGuid(), kScheduleVariable, settings, kScheduleAttributes, &writeError);
  const Variable back = ReadVariable(RecordGuid(), kScheduleVariable);
  if (!written || back.state != Variable::State::Present || back.data != settings ||
      back.attributes != kScheduleAttributes) {
    undo();
    Refuse(std::string("the firmware did not keep the update's settings in ") + kScheduleVariable +
           (writeError.empty() ? "" : " (" + writeError + ")") +
           ": no boot entry was made, nothing runs at the next boot");
  }
  if (!ListBootEntries(&list, &error)) {
    undo();
    Refuse("cannot list the boot entries (" + error + "): nothing changed but the staged image");
  }
  uint16_t number = 0;
  if (!CreateBootEntry(esp, kLabel, FlashArguments(*cid, *pid), list, &number, &error)) {
    undo();
    Refuse("could not create the boot entry (" + error +
           "); the update's settings were removed "
           "again");
  }
  BootEntries after;
  if (!ListBootEntries(&after, &error)) {
    undo();
    Refuse(std::string("cannot list the boot entries after creating \"") + kLabel + "\" (" + error +
           "): BootNext is not set, nothing runs at the next boot ('" + gMe +
           " cancel' removes the entry)");
  }
  ours = Ours(target, after);
  if (ours != std::vector<uint16_t>{number}) {
    std::string e;
    if (!DeleteBootEntry(number, &e))
      Warn("could not remove Boot" + Hex4(number) + " again either: '" + gMe + " cancel' does");
    undo();
    Refuse("after creating Boot" + Hex4(number) + ", " + std::to_string(ours.size()) +
           " boot entries start the staged image, not one; the new entry and the settings were "
           "removed again");
  }
  if (!SetBootNext(number, &error)) {
    std::string e;
    if (!DeleteBootEntry(number, &e))
      Warn("could not remove Boot" + Hex4(number) + " again either: '" + gMe + " cancel' does");
    undo();
    Refuse("could not set BootNext (" + error +
           "); the entry and the update's settings were "
           "removed again");
  }
  // The boot unit's sign that an entry of ours is out there, and which ESP holds its image.
  std::filesystem::create_directories(StateDir(), ec);
  if (!WriteFileSafely(MarkerPath(), Bytes(esp.uuid + "\n"), 0644, &error))
    Warn("cannot write " + MarkerPath() + ": the boot unit (" + kUnitName +
         ") will not report a boot that leaves no result");
  const char *after_ = schedule.then == BootEnd::Reboot ? "restarts the machine"
                       : schedule.then == BootEnd::PowerCycle
                           ? "powers the machine off and on again (RTC alarm)"
                           : "returns to the firmware's boot manager";
  Say("Boot" + Hex4(number) + " \"" + kLabel + "\" runs 'Panelup.efi /f " + std::to_string(*cid) +
      " " + std::to_string(*pid) + "'" + about +
      " at the next boot only (BootNext=" + Hex4(number) + "):");
  Say("up to " + std::to_string(schedule.attempts) + " attempt(s), then it " + after_ + ".");
  Say("Reboot to update the panel; afterwards '" + gMe + " status' reads the result.");
  if (gJson) {
    Json object = answer("scheduled", true);
    object["then"] = BootEndName(schedule.then);
    object["attempts"] = schedule.attempts;
    EmitJson(object);
  }
  if (sb != SecureBoot::Off && check.signedImage)
    Warn("Secure Boot is on: the firmware starts Panelup.efi only when its signature is from a key "
         "in the firmware's db; if it is not, '" +
         gMe +
         " status' says so after the reboot (exit "
         "status 5)");
  return kExitOk;
}

int Cancel(const Args &args) {
  std::string given;
  gSaysChanged = true;
  for (const std::string &a : args)
    gJson = gJson || a == "--json";
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json")
      continue;
    if (args[i] == "--esp")
      given = Value(args, i, "a folder");
    else
      UsageError("unknown argument '" + args[i] + "' for cancel");
  }
  RequireUefi();
  RequireRoot();
  Lock();
  const Target target = FindTarget(given);
  BootEntries list;
  std::string error;
  if (!ListBootEntries(&list, &error))
    Refuse("cannot list the boot entries (" + error + "): nothing changed");
  const std::vector<uint16_t> ours = Ours(target, list);
  // Changed: anything of a schedule was there to remove.
  const std::string staged = target.esp ? target.esp->dir + "/" + kStagedDir + "/" : "";
  const bool changed =
      !ours.empty() ||
      ReadVariable(RecordGuid(), kScheduleVariable).state == Variable::State::Present ||
      (target.esp && (Exists(staged + kStagedName) || Exists(staged + kTempName)));
  if (ours.empty()) {
    Say(std::string("Nothing scheduled (no boot entry \"") + kLabel + "\").");
  } else {
    error = RemoveEntries(ours, list, Out());
    if (!error.empty())
      Refuse(error);
  }
  RemoveMarker();
  error = RemoveSchedule();
  if (!error.empty())
    Refuse(error);
  error = RemoveStaged(target, Out());
  if (!error.empty()) {
    if (target.esp)
      Refuse(error);
    Warn(error);
  }
  if (gJson)
    EmitJson({{"result", "cancelled"}, {"changed", changed}});
  return kExitOk;
}

// --- inventory ---

// What the panel runs, read over the SMBus, against the image's catalogue.
int Inventory(const Args &args) {
  std::string adapter;
  std::string efi;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json")
      gJson = true;
    else if (args[i] == "--adapter")
      adapter = Value(args, i, "an adapter's name or number");
    else if (args[i] == "--efi")
      efi = Value(args, i, "a file");
    else
      UsageError("unknown argument '" + args[i] + "' for inventory");
  }
  RequireRoot();
  // The chip answers one host at a time: never beside a schedule, a status or another reading.
  Lock();
  if (efi.empty())
    efi = DefaultImage();
  const PanelRead panel = ReadPanel(adapter);
  if (!panel.error.empty())
    Refuse(panel.error);
  const BridgeReading &bridge = panel.bridge;
  const int number = panel.number;
  const std::string &name = panel.name;
  const CmosReading cmos = ReadCmos();
  const std::string where = panel.Where();

  Json object;
  std::string verdict = "no-bridge";
  CataloguePair pair;
  const RecordVersion running = panel.Running();
  if (bridge.found) {
    pair = FindPair(Catalogue(efi), bridge.cid, bridge.pid);
    if (!pair.error.empty())
      Refuse(pair.error);
    verdict = !pair.found                            ? "not-in-catalogue"
              : pair.version == VersionText(running) ? "current"
                                                     : "update-available";
  }
  if (gJson) {
    object["result"] = verdict;
    object["adapter"] = {{"number", number}, {"name", name}};
    object["bridge"] = bridge.found;
    if (bridge.hasChipId) {
      char id[8];
      std::snprintf(id, sizeof id, "0x%04X", bridge.chipId);
      object["chip_id"] = id;
    } else {
      object["chip_id"] = nullptr;
    }
    if (bridge.found) {
      object["running"] = RunningJson(panel);
      object["catalogue"] =
          pair.found ? Json{{"version", pair.version}, {"model", pair.model}} : Json(nullptr);
    }
    object["image"] = efi;
    if (cmos.available) {
      char status[8];
      std::snprintf(status, sizeof status, "0x%02X", cmos.status);
      object["cmos"] = {
          {"version", VersionText({cmos.version[0], cmos.version[1], cmos.version[2]})},
          {"status", status}};
    } else {
      object["cmos"] = nullptr;
    }
    object["transfers"] = bridge.transfers.size();
    if (!bridge.why.empty())
      object["reason"] = bridge.why;
    EmitJson(object);
  } else if (!bridge.found) {
    Say("No bridge found on " + where + ": " + bridge.why + ".");
  } else {
    Say("bridge:     " + where + ", address 0x2B, chip id 0x1605");
    Say("running:    " + VersionText(running));
    Say("catalogue:  " + (pair.found ? pair.version + " " + pair.model : std::string("none")) +
        " (" + Catalogue(efi) + ")");
    if (cmos.available)
      Say("CMOS:       " + VersionText({cmos.version[0], cmos.version[1], cmos.version[2]}) +
          " last published, status " + std::to_string(cmos.status));
    else
      Say("CMOS:       not read (" + cmos.why + ")");
    Say(std::string("verdict:    ") + (verdict == "current"            ? "current"
                                       : verdict == "update-available" ? "update available"
                                                                       : "not in the catalogue"));
  }
  return bridge.found ? kExitOk : kCtlNoBridge;
}

int Version(const Args &args) {
  std::string efi;
  std::string given;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--efi")
      efi = Value(args, i, "a file");
    else if (args[i] == "--esp")
      given = Value(args, i, "a folder");
    else
      UsageError("unknown argument '" + args[i] + "' for --version");
  }
  Say(std::string("panelupctl ") + PANELUP_VERSION);
  DescribeImage("image to stage", efi.empty() ? DefaultImage() : efi);
  const Target target = FindTarget(given, false);
  if (target.esp)
    DescribeImage("staged image", target.esp->dir + "/" + kStagedDir + "/" + kStagedName);
  return kExitOk;
}

// --- install ---

// Runs a program (no shell); its exit status, -1 when it could not start.
int Run(const std::vector<std::string> &argv) {
  std::vector<char *> v;
  v.reserve(argv.size() + 1);
  for (const std::string &a : argv)
    v.push_back(const_cast<char *>(a.c_str()));
  v.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, v[0], nullptr, nullptr, v.data(), environ) != 0)
    return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
    return -1;
  return WEXITSTATUS(status);
}

void PutFile(const std::string &source, const std::vector<uint8_t> &bytes, const std::string &dest,
             mode_t mode) {
  std::string error;
  if (!WriteFileSafely(dest, bytes, mode, &error))
    Refuse("cannot install " + source + " as " + dest + ": " + error);
  Say("Installed " + dest + ".");
}

std::vector<uint8_t> Contents(const std::string &path) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ReadFile(path, &bytes, &error))
    Refuse(error);
  return bytes;
}

int Install(const Args &args) {
  std::string prefix = "/usr/local";
  std::string efi;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--prefix")
      prefix = Value(args, i, "a folder");
    else if (args[i] == "--efi")
      efi = Value(args, i, "a file");
    else
      UsageError("unknown argument '" + args[i] + "' for install");
  }
  // The unit names panelupctl by its path, and systemd splits ExecStart= at blanks.
  if (prefix.empty() || prefix[0] != '/' ||
      prefix.find_first_not_of(
          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._/+-") !=
          std::string::npos)
    UsageError("--prefix must be an absolute path of letters, digits and . _ / + -, not '" +
               prefix + "'");
  while (prefix.size() > 1 && prefix.back() == '/')
    prefix.pop_back();
  if (efi.empty())
    efi = gMyDir + "/" + kStagedName;
  if (!Exists(efi) || IsFolder(efi))
    Refuse("no Panelup.efi at " + efi + ": name the image to install with --efi FILE");
  const std::string catalogue = Catalogue(efi);
  if (!Exists(catalogue) || IsFolder(catalogue))
    Refuse("no catalogue " + catalogue + " beside " + efi +
           ": schedule checks every CID/PID pair "
           "against it (the build writes it beside Panelup.efi)");
  std::string unitSource = gMyDir + "/" + kUnitName;
  if (!Exists(unitSource))
    unitSource = gMyDir + "/../os/" + kUnitName;
  if (!Exists(unitSource))
    Refuse(std::string("no ") + kUnitName + " beside " + gMyDir +
           "/panelupctl, nor in the tree's os/");
  const std::vector<uint8_t> image = Contents(efi);
  const auto mark = ReadBuildMark(image);
  if (!mark)
    Warn(efi + " carries no build mark: schedule stages it only with --test-images");
  else if (!mark->genuine)
    Warn(efi + " is a test build (" + mark->id + "): schedule stages it only with --test-images");

  const std::string sbin = prefix + "/sbin";
  const std::string lib = prefix + "/lib/panelup";
  const std::string units = prefix + "/lib/systemd/system";
  std::error_code ec;
  for (const std::string &d : {sbin, lib, units})
    if (!std::filesystem::create_directories(d, ec) && !IsFolder(d))
      Refuse("cannot create " + sbin + ", " + lib + " and " + units);
  PutFile("panelupctl", Contents("/proc/self/exe"), sbin + "/panelupctl", 0755);
  PutFile(efi, image, lib + "/" + kStagedName, 0644);
  PutFile(catalogue, Contents(catalogue), lib + "/" + kCatalogueFileName, 0644);
  const std::vector<uint8_t> unitBytes = Contents(unitSource);
  std::string unit(unitBytes.begin(), unitBytes.end());
  const std::string from = "\nExecStart=/usr/sbin/panelupctl ";
  const size_t at = unit.find(from);
  if (at == std::string::npos)
    Refuse(unitSource + " does not start /usr/sbin/panelupctl, so it cannot be pointed to " + sbin +
           "/panelupctl");
  unit.replace(at, from.size(), "\nExecStart=" + sbin + "/panelupctl ");
  const std::string unitPath = units + "/" + kUnitName;
  PutFile(unitSource, Bytes(unit), unitPath, 0644);

  const std::string command =
      sbin + "/panelupctl status --json --save " + StateDir() + "/last-result.json";
  if (!IsFolder("/run/systemd/system")) {
    Say("systemd does not run this system: have '" + command +
        "' run at every boot by other means (it exits with the update's status).");
    return kExitOk;
  }
  if (units == "/etc/systemd/system" || units == "/usr/local/lib/systemd/system" ||
      units == "/usr/lib/systemd/system" || units == "/lib/systemd/system") {
    if (Run({"systemctl", "daemon-reload"}) != 0)
      Refuse("systemctl daemon-reload failed: " + unitPath + " is installed, not enabled");
    if (Run({"systemctl", "enable", "--quiet", kUnitName}) != 0)
      Refuse(std::string("systemctl enable ") + kUnitName + " failed: " + unitPath +
             " is installed, not enabled");
    Say(std::string("Enabled ") + kUnitName +
        ": at a boot with a result or an update to report, it runs '" + command + "'.");
  } else {
    Say(unitPath + " is outside systemd's unit folders: 'systemctl enable " + unitPath +
        "' links it in and enables it.");
  }
  return kExitOk;
}

void Usage(FILE *out) {
  std::fprintf(
      out,
      R"(usage: %s schedule [CID PID] [--then reboot|power-cycle|return] [--attempts N] [--json]
                  [--efi FILE] [--esp DIR] [--adapter NAME|N] [--reflash] [--any-pair] [--force]
                  [--test-images]
       %s status [--json] [--save FILE] [--keep] [--esp DIR] [--adapter NAME|N]
       %s inventory [--json] [--adapter NAME|N] [--efi FILE]
       %s cancel [--json] [--esp DIR]
       %s install [--prefix DIR] [--efi FILE]
       %s --version [--efi FILE] [--esp DIR]
       %s --help

schedule  copies Panelup.efi to \EFI\Panelup\ on the EFI system partition and makes a boot
          entry "%s" that runs 'Panelup.efi /f CID PID' at the next boot only (BootNext).
          CID, PID: decimal 0..255, a pair in the catalogue beside the image (%s;
          --any-pair: any pair, the tool then flashes its default entry); left out, the
          panel's own, read from the bridge as inventory does. A panel that already runs the
          catalogue's firmware gets nothing (--reflash: written again); a pair other than the
          panel's own is refused (--force: scheduled all the same). --then: what the tool
          does after the update: reboot (default; the panel starts its new firmware at the next
          power-off), power-cycle (off, and on again by the RTC alarm: the new firmware runs at
          once; a reboot where the alarm cannot be set), return (to the firmware's boot
          manager). --attempts N: updates tried before it gives up, 1..9 (default 3).
          --efi FILE: the image to stage (default: Panelup.efi next to %s, else in
          ../lib/panelup/ from there, else /usr/local/lib/panelup/). --esp DIR: the mounted ESP
          (default: the mounted FAT file system with the ESP partition type). --force: replace
          a BootNext that points to another entry, and stage an image without a signature while
          Secure Boot is on. A build whose images are test patterns is refused (it flashes only
          the simulator's chip) unless --test-images is given.
status    prints the last update's result and exits with its exit status (3: no result yet,
          4: unreadable, 5: the boot that was to run it passed without a result). Once a result
          is read, the boot entry and the staged image go (the image stays with --keep).
          It reads the version the panel runs from the bridge, as inventory does.
          --json: one JSON object instead of text (schedule and cancel take it too).
          --save FILE: that object written to FILE too.
cancel    removes the boot entry (and BootNext when it points there), the staged image and the
          update's settings.
inventory reads the bridge's chip id and firmware version over the chipset's SMBus (--adapter:
          another, by name or number) with the register sequence Panelup.efi's /s uses, CMOS
          0x70-0x72 and 0x79, and the catalogue entry for the panel's pair; the verdict:
          current, update available, not in the catalogue (exit 0), or no bridge found (exit 6).
install   puts %s in PREFIX/sbin, Panelup.efi and its catalogue (from beside %s, or
          --efi FILE) in PREFIX/lib/panelup and the unit %s in
          PREFIX/lib/systemd/system, and enables the unit where systemd runs (PREFIX: default
          /usr/local).
--version prints this panelupctl's version and the build of the image it would stage and of the
          one staged on the ESP.

Everything else: man panelupctl.
)",
      gMe.c_str(), gMe.c_str(), gMe.c_str(), gMe.c_str(), gMe.c_str(), gMe.c_str(), gMe.c_str(),
      kLabel, kCatalogueFileName, gMe.c_str(), gMe.c_str(), gMe.c_str(), kUnitName);
}

int Main(const Args &all) {
  const std::string command = all.empty() ? "" : all[0];
  const Args args(all.empty() ? all.begin() : all.begin() + 1, all.end());
  if (command == "schedule")
    return ScheduleCommand(args);
  if (command == "status")
    return Status(args);
  if (command == "cancel")
    return Cancel(args);
  if (command == "install")
    return Install(args);
  if (command == "--version")
    return Version(args);
  if (command == "inventory")
    return Inventory(args);
  if (command == "-h" || command == "--help" || command == "help") {
    Usage(stdout);
    return kExitOk;
  }
  if (command.empty()) {
    Usage(stderr);
    return kCtlUsage;
  }
  UsageError("unknown command '" + command + "'");
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 0 && argv[0] != nullptr) {
    gMe = argv[0];
    gMe = gMe.substr(gMe.find_last_of('/') + 1);
  }
  // Its own folder, for the image beside it and install's copies.
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0)
    gMyDir = Folder(std::string(self, static_cast<size_t>(n)));
  try {
    const int status = Main(Args(argv + (argc > 0 ? 1 : 0), argv + argc));
    std::fflush(stdout);
    return status;
  } catch (const Stop &stop) {
    std::fflush(stdout);
    Warn(stop.reason);
    if (stop.status == kCtlUsage && !gJson) {
      std::fprintf(stderr, "Try '%s --help'.\n", gMe.c_str());
    } else if (gJson) {
      try {
        Json object{{"result", stop.word}};
        if (gSaysChanged)
          object["changed"] = false;
        object["reason"] = stop.reason;
        EmitJson(object);
      } catch (const std::exception &) {
        // The reason is on stderr already; the status says the rest.
      }
    }
    return stop.status;
  } catch (const std::exception &e) {
    Warn(std::string("failed: ") + e.what());
    return kCtlRefused;
  }
}
