#include "event_text.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <variant>

#include "console/format.h"
#include "console/status_names.h"
#include "sim/host/text.h"

namespace {

constexpr size_t kLongestFold = 64; // items in one repeated block, at most

struct Item {
  std::string exact;
  std::string shape; // what must repeat for a fold
};

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

std::string Status(EFI_STATUS status) {
  const CHAR16 *name = StatusName(status);
  return name ? sim::Narrow(name) : "0x" + Hex(static_cast<unsigned>(status));
}

std::string Quoted(const std::u16string &text) {
  std::string out = "\"";
  for (char16_t c : text) {
    if (c == u'\r' || c == u'\n' || c == u'"' || c == u'\\')
      out += c == u'\r' ? "\\r" : c == u'\n' ? "\\n" : c == u'"' ? "\\\"" : "\\\\";
    else if (c >= 0x20 && c < 0x7F)
      out += static_cast<char>(c);
    else
      out += "\\u" + Hex(c >> 8) + Hex(c & 0xFF);
  }
  return out + "\"";
}

Item Plain(const std::string &text) {
  return {text, text};
}

Item TransactionItem(const sim::Transaction &t) {
  const bool write = t.op == sim::Op::Write;
  const std::string head = std::string(write ? "W " : "R ") + Hex(t.reg) + " ";
  const std::string tail = t.failed ? " failed" : "";
  const bool varies =
      t.bank == 0x80 && (t.reg == 0x59 || t.reg == 0x5F || (t.reg >= 0x5B && t.reg <= 0x5D));
  return {head + Hex(t.value) + tail, head + (varies ? ".." : Hex(t.value)) + tail};
}

Item PrintItem(const std::u16string &text, const char *verb) {
  std::string exact = std::string(verb) + " " + Quoted(text);
  std::string shape = exact;
  if (exact.find("=====Updating") != std::string::npos) {
    size_t at = shape.find_first_of("0123456789", shape.find("LT7911D") + 7);
    shape.replace(at, shape.find(' ', at) - at, "..");
  }
  return {exact, shape};
}

bool IsPool(const sim::Event &e, bool allocate) {
  const auto *p = std::get_if<sim::PoolCall>(&e);
  return p != nullptr && p->allocate == allocate && p->size == kPrintBufferBytes &&
         p->status == EFI_SUCCESS;
}

bool IsOutput(const sim::Event &e) {
  const auto *c = std::get_if<sim::ConsoleCall>(&e);
  return c != nullptr && c->op == sim::ConsoleOp::OutputString;
}

const sim::PortAccess *Port(const std::vector<sim::Event> &events, size_t i, uint16_t port,
                            bool write) {
  const auto *a = i < events.size() ? std::get_if<sim::PortAccess>(&events[i]) : nullptr;
  return a && a->port == port && a->write == write ? a : nullptr;
}

// The item starting at events[i]; `used` is how many events it covers.
Item ItemAt(const std::vector<sim::Event> &events, size_t i, size_t &used) {
  used = 1;
  const sim::Event &e = events[i];
  if (i + 2 < events.size() && IsPool(e, true) && IsOutput(events[i + 1]) &&
      IsPool(events[i + 2], false)) {
    used = 3;
    return PrintItem(std::get<sim::ConsoleCall>(events[i + 1]).text, "print");
  }
  if (const auto *index = Port(events, i, 0x70, true)) {
    const auto *data = Port(events, i + 1, 0x71, true);
    if (data && Port(events, i + 2, 0x70, true) && Port(events, i + 3, 0x71, false)) {
      used = 4;
      return Plain("cmos[" + Hex(index->value) + "] = " + Hex(data->value));
    }
    if (const auto *read = Port(events, i + 1, 0x71, false)) {
      used = 2;
      return Plain("cmos[" + Hex(index->value) + "] -> " + Hex(read->value));
    }
  }
  if (const auto *a = std::get_if<sim::PortAccess>(&e)) {
    if (a->write && a->port == 0x66)
      return Plain("ec " + Hex(a->value));
    return Plain(std::string(a->write ? "out " : "in ") + Hex(a->port) + " " + Hex(a->value));
  }
  if (const auto *t = std::get_if<sim::Transaction>(&e))
    return TransactionItem(*t);
  if (const auto *s = std::get_if<sim::StallCall>(&e))
    return Plain("stall " + std::to_string(s->micros));
  if (const auto *p = std::get_if<sim::PoolCall>(&e))
    return Plain(std::string(p->allocate ? "alloc " : "free ") + std::to_string(p->size) +
                 (p->status == EFI_SUCCESS ? "" : " -> " + Status(p->status)));
  if (const auto *w = std::get_if<sim::WatchdogCall>(&e))
    return Plain("watchdog " + std::to_string(w->seconds));
  if (const auto *w = std::get_if<sim::WakeupCall>(&e)) {
    char time[32];
    std::snprintf(time, sizeof time, "%04u-%02u-%02uT%02u:%02u:%02u", w->time.Year, w->time.Month,
                  w->time.Day, w->time.Hour, w->time.Minute, w->time.Second);
    return Plain(std::string("wakeup ") + (w->enable ? "on " : "off ") + time + " -> " +
                 Status(w->status));
  }
  if (const auto *r = std::get_if<sim::ResetCall>(&e)) {
    const char *const types[] = {"cold", "warm", "shutdown", "platform-specific"};
    return Plain(std::string("reset ") +
                 (r->type <= EfiResetPlatformSpecific ? types[r->type] : "?"));
  }
  if (const auto *v = std::get_if<sim::VariableCall>(&e))
    return Plain(std::string(v->set ? "SetVariable " : "GetVariable ") + sim::Narrow(v->name) +
                 (v->set ? " " + Hex(v->attributes) : "") + " (" + std::to_string(v->size) +
                 ") -> " + Status(v->status));
  const auto &c = std::get<sim::ConsoleCall>(e);
  switch (c.op) {
  case sim::ConsoleOp::OutputString:
    return PrintItem(c.text, "output");
  case sim::ConsoleOp::ClearScreen:
    return Plain("clear");
  case sim::ConsoleOp::SetCursorPosition:
    return Plain("cursor " + std::to_string(c.a) + "," + std::to_string(c.b));
  case sim::ConsoleOp::SetAttribute:
    return Plain("attribute " + Hex(static_cast<unsigned>(c.a)));
  case sim::ConsoleOp::EnableCursor:
    return Plain(c.a ? "cursor on" : "cursor off");
  }
  return Plain("?");
}

bool OpensPage(const Item &item) {
  return item.shape.starts_with("W 5E ") || item.shape == "W 5A 86";
}

Item Fold(const std::vector<Item> &block, size_t times) {
  if (block.size() == 1 && block[0].shape.find('\n') == std::string::npos)
    return Plain(std::to_string(times) + " x " + block[0].shape);
  std::string text = std::to_string(times) + " x {";
  for (const Item &item : block) {
    size_t start = 0;
    while (start <= item.shape.size()) {
      size_t end = item.shape.find('\n', start);
      if (end == std::string::npos)
        end = item.shape.size();
      text += "\n  " + item.shape.substr(start, end - start);
      start = end + 1;
    }
  }
  return Plain(text + "\n}");
}

// One pass: at each place the longest run of a repeated block (of `shortest` to `longest` items)
// folds, unless a longer run starts within reach, so a block is not cut by its neighbour's start.
std::vector<Item> FoldPass(const std::vector<Item> &items, size_t shortest, size_t longest) {
  const size_t n = items.size();
  std::map<std::string, int> ids;
  std::vector<int> id(n);
  for (size_t i = 0; i < n; ++i)
    id[i] = ids.emplace(items[i].shape, static_cast<int>(ids.size())).first->second;
  std::vector<size_t> bestCover(n, 0);
  std::vector<size_t> bestLength(n, 0);
  std::vector<size_t> same(n + 1, 0); // how far items match the ones `length` later
  for (size_t length = shortest; length <= longest; ++length) {
    for (size_t i = n; i-- > 0;) {
      same[i] = i + length < n && id[i] == id[i + length] ? same[i + 1] + 1 : 0;
      size_t cover = (1 + same[i] / length) * length;
      if (cover >= 2 * length && cover > bestCover[i]) {
        bestCover[i] = cover;
        bestLength[i] = length;
      }
    }
  }
  std::vector<Item> out;
  for (size_t i = 0; i < n;) {
    size_t start = i;
    // Two overlapping runs cover as much when the item before a run happens to end its block;
    // then the one that starts a page, where the controller is given its mode or write enable,
    // is the block's own start.
    const size_t reach = std::min(n, i + longest);
    for (size_t j = i + 1; j < reach; ++j) {
      const size_t cover = bestCover[j];
      const bool overlapping = j < start + bestCover[start];
      const bool ownStart = OpensPage(items[j]) && !OpensPage(items[start]);
      if (cover > bestCover[start] || (cover == bestCover[start] && overlapping && ownStart))
        start = j;
    }
    if (bestCover[start] == 0) {
      out.push_back(items[i++]);
      continue;
    }
    out.insert(out.end(), items.begin() + static_cast<std::ptrdiff_t>(i),
               items.begin() + static_cast<std::ptrdiff_t>(start));
    const size_t length = bestLength[start];
    const auto first = items.begin() + static_cast<std::ptrdiff_t>(start);
    out.push_back(
        Fold({first, first + static_cast<std::ptrdiff_t>(length)}, bestCover[start] / length));
    i = start + bestCover[start];
  }
  return out;
}

} // namespace

std::string EventText(const std::vector<sim::Event> &events) {
  std::vector<Item> items;
  for (size_t i = 0, used = 0; i < events.size(); i += used)
    items.push_back(ItemAt(events, i, used));
  // Repeated lines first (a page's data), then repeated blocks, then folds of folds (a page run
  // inside a repeated key-area pass).
  items = FoldPass(items, 1, 1);
  for (size_t before = 0; before != items.size();) {
    before = items.size();
    items = FoldPass(items, 2, kLongestFold);
  }
  std::string text;
  for (const Item &item : items)
    text += item.exact + "\n";
  return text;
}
