#include "base/xml_text.h"

#include "base/ascii_text.h"
#include "base/xml_wellformed.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace qmx {
namespace {
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration;
constexpr unsigned kFormat = pugi::format_raw | pugi::format_no_declaration;

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, std::size_t size) override {
    out.append(static_cast<const char*>(data), size);
  }
};

struct SinkWriter : pugi::xml_writer {
  const std::function<void(std::string_view)>& sink;
  explicit SinkWriter(const std::function<void(std::string_view)>& s) : sink(s) {}
  void write(const void* data, std::size_t size) override { sink({static_cast<const char*>(data), size}); }
};

// Text from this size up is checked on a second thread while pugixml parses it:
// the check then costs nothing when a core is free, and about what it costs in
// series when none is. Below it, starting a thread costs more than it saves.
constexpr std::size_t kCheckBesideBytes = 64 * 1024;

bool checkedBeside(std::size_t size) {
  return size >= kCheckBesideBytes && size <= static_cast<std::size_t>(INT_MAX);
}

// The strict check over a source, on a thread of its own; verdict() joins it.
// Whichever thread comes to the check first runs it: when the other core is so
// busy that the thread has not started by the time the parse is done, the
// parsing thread checks itself rather than wait for it. Without a thread to be
// had the check runs at once in this one.
class CheckBeside {
 public:
  explicit CheckBeside(XmlTextSource source) : source_(std::move(source)) {
    try {
      thread_ = std::thread([this] { claimAndRun(); });
    } catch (const std::system_error&) {
      claimAndRun();
    }
  }
  CheckBeside(const CheckBeside&) = delete;
  CheckBeside& operator=(const CheckBeside&) = delete;
  ~CheckBeside() {
    if (thread_.joinable()) thread_.join();
  }

  // The check's answer; rethrows what the check threw, with doc emptied.
  bool verdict(pugi::xml_document& doc) {
    claimAndRun();
    if (thread_.joinable()) thread_.join();
    if (failure_) {
      doc.reset();
      std::rethrow_exception(failure_);
    }
    return wellFormed_;
  }

 private:
  void claimAndRun() noexcept {
    if (!claimed_.exchange(true)) run();
  }
  void run() noexcept {
    try {
      wellFormed_ = isWellFormedXml(source_);
    } catch (...) {
      failure_ = std::current_exception();
    }
    source_ = nullptr;  // what the source holds goes as soon as it is read
  }

  XmlTextSource source_;
  std::atomic<bool> claimed_{false};
  bool wellFormed_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

bool parseWith(pugi::xml_document& doc, std::string_view utf8, unsigned options) {
  bool parsed = false;
  if (!checkedBeside(utf8.size())) {
    parsed = isWellFormedXml(utf8) && doc.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8);
  } else {
    // pugixml parses its own copy, so the check reads the text where it lies.
    CheckBeside check(xmlTextSourceOver(utf8));
    parsed = static_cast<bool>(doc.load_buffer(utf8.data(), utf8.size(), options, pugi::encoding_utf8));
    parsed = check.verdict(doc) && parsed;
  }
  if (!parsed) doc.reset();
  return parsed;
}

}  // namespace

bool parseXml(pugi::xml_document& doc, std::string_view utf8) { return parseWith(doc, utf8, kParseOptions); }

bool parseXmlKeepingComments(pugi::xml_document& doc, std::string_view utf8) {
  return parseWith(doc, utf8, kParseOptions | pugi::parse_comments | pugi::parse_pi);
}

XmlDocument parseXmlDocument(std::string_view utf8) {
  auto doc = std::make_shared<pugi::xml_document>();
  parseXml(*doc, utf8);
  return doc;
}

std::string xmlText(const pugi::xml_node& node) {
  StringWriter writer;
  node.print(writer, "", kFormat, pugi::encoding_utf8);
  return std::move(writer.out);
}

void printXml(const pugi::xml_node& node, const std::function<void(std::string_view)>& sink) {
  SinkWriter writer(sink);
  node.print(writer, "", kFormat, pugi::encoding_utf8);
}

XmlTextBuffer::XmlTextBuffer(std::size_t size, std::size_t spare) : size_(size) {
  // The document frees what it takes over with pugixml's own deallocation function.
  data_.reset(static_cast<char*>(pugi::get_memory_allocation_function()(size + spare == 0 ? 1 : size + spare)));
  if (!data_) throw std::bad_alloc();
}

XmlTextBuffer xmlTextBufferOf(std::string_view utf8) {
  XmlTextBuffer buffer(utf8.size());
  std::memcpy(buffer.data(), utf8.data(), utf8.size());
  return buffer;
}

XmlTextSource xmlTextSourceOver(std::string_view utf8) {
  return [utf8](char* out, std::size_t room) mutable {
    const std::size_t n = std::min(utf8.size(), room);
    std::memcpy(out, utf8.data(), n);
    utf8.remove_prefix(n);
    return n;
  };
}

XmlTextSource xmlTextSourceOwning(std::string utf8) {
  auto text = std::make_shared<const std::string>(std::move(utf8));
  return [text, rest = std::string_view(*text)](char* out, std::size_t room) mutable {
    const std::size_t n = std::min(rest.size(), room);
    std::memcpy(out, rest.data(), n);
    rest.remove_prefix(n);
    return n;
  };
}

XmlTextSource xmlTextSourceInPieces(std::string_view utf8) {
  // Small enough to be freed early, large enough to keep the count of them low.
  constexpr std::size_t kPiece = 64 * 1024;
  struct Pieces {
    std::vector<std::string> pieces;
    std::size_t next = 0;    // the piece being read
    std::size_t offset = 0;  // how far into it
  };
  auto held = std::make_shared<Pieces>();
  held->pieces.reserve(utf8.size() / kPiece + 1);
  for (std::size_t at = 0; at < utf8.size(); at += kPiece) held->pieces.emplace_back(utf8.substr(at, kPiece));
  return [held](char* out, std::size_t room) {
    std::size_t n = 0;
    while (n < room && held->next < held->pieces.size()) {
      std::string& piece = held->pieces[held->next];
      const std::size_t take = std::min(piece.size() - held->offset, room - n);
      std::memcpy(out + n, piece.data() + held->offset, take);
      n += take;
      held->offset += take;
      if (held->offset == piece.size()) {
        std::string().swap(piece);
        ++held->next;
        held->offset = 0;
      }
    }
    return n;
  };
}

void XmlTextBuffer::Release::operator()(char* p) const { pugi::get_memory_deallocation_function()(p); }

bool parseXmlInPlace(pugi::xml_document& doc, XmlTextBuffer text) {
  doc.reset();
  if (!isWellFormedXml(text.view())) return false;
  const std::size_t size = text.size_;
  // The document owns the buffer from here on, whatever the outcome.
  if (!doc.load_buffer_inplace_own(text.data_.release(), size, kParseOptions, pugi::encoding_utf8)) {
    doc.reset();
    return false;
  }
  return true;
}

bool parseXmlInPlace(pugi::xml_document& doc, XmlTextBuffer text, XmlTextSource sameText) {
  if (!checkedBeside(text.size_)) {
    sameText = nullptr;
    return parseXmlInPlace(doc, std::move(text));
  }
  doc.reset();
  CheckBeside check(std::move(sameText));
  const std::size_t size = text.size_;
  // The document owns the buffer from here on, whatever the outcome.
  bool parsed = static_cast<bool>(
      doc.load_buffer_inplace_own(text.data_.release(), size, kParseOptions, pugi::encoding_utf8));
  parsed = check.verdict(doc) && parsed;
  if (!parsed) doc.reset();
  return parsed;
}

namespace {

// Where the encoding's value stands in a declaration at the start of the text:
// (offset, length); length 0 when there is none.
std::pair<std::size_t, std::size_t> declaredEncodingValue(std::string_view text) {
  if (text.substr(0, 5) != "<?xml") return {0, 0};
  const std::string_view declaration = text.substr(0, text.find("?>"));
  const auto key = declaration.find("encoding");
  if (key == std::string_view::npos) return {0, 0};
  std::size_t i = key + 8;
  const auto skipBlanks = [&] {
    while (i < declaration.size() && (declaration[i] == ' ' || declaration[i] == '\t' || declaration[i] == '\r' ||
                                      declaration[i] == '\n'))
      ++i;
  };
  skipBlanks();
  if (i >= declaration.size() || declaration[i] != '=') return {0, 0};
  ++i;
  skipBlanks();
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\'')) return {0, 0};
  const auto close = declaration.find(declaration[i], i + 1);
  if (close == std::string_view::npos) return {0, 0};
  return {i + 1, close - i - 1};
}

}  // namespace

std::string declaredXmlEncoding(std::string_view text) {
  const auto [offset, length] = declaredEncodingValue(text);
  return lowerAscii(text.substr(offset, length));
}

void replaceDeclaredEncoding(std::string& xml, std::string_view encoding) {
  const auto [offset, length] = declaredEncodingValue(xml);
  if (length != 0) xml.replace(offset, length, encoding);
}

std::string textContent(const pugi::xml_node& node) {
  if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) return node.value();
  std::string text;
  // A value split by a CDATA section or a child element still reads whole.
  for (pugi::xml_node n = node.first_child(); n;) {
    if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) text += n.value();
    if (n.first_child()) {
      n = n.first_child();
      continue;
    }
    while (n && n != node && !n.next_sibling()) n = n.parent();
    if (n == node) break;
    n = n.next_sibling();
  }
  return text;
}

}  // namespace qmx
