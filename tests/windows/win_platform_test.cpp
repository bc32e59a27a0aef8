// What only the Windows backend promises (its file contract is the contract
// suite's): the owner-only descriptor, the folder lock, the registry view, code pages, the
// password hash format, and WinHTTP's wire and error rules against a loopback peer.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "base/automation_error.h"
#include "base/sha256.h"
#include "password/pbkdf2.h"
#include "platform/win/win_platform.h"
#include "support/fake_platform.h"

namespace qmx {
namespace {

using Names = std::vector<std::string>;

using test::errorNumberOf;

TEST(WinFiles, OwnerOnlyFileLetsInOnlyItsUserAndTheSystem) {
  char base[MAX_PATH];
  ::GetTempPathA(MAX_PATH, base);
  const std::string path = std::string(base) + "qmxowner" + std::to_string(::GetCurrentProcessId()) + ".xml";
  WinPlatform p([](const std::string&) {});
  p.replaceFile(path, "<record/>", FileAccess::OwnerOnly);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  ASSERT_EQ(::GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, &sd),
            ERROR_SUCCESS);
  ASSERT_NE(dacl, nullptr);
  // (Wine keeps the entries but not the "protected" mark, so that is not checked.)
  HANDLE token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token));
  alignas(TOKEN_USER) BYTE userBuffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(token, TokenUser, userBuffer, sizeof userBuffer, &size));
  ::CloseHandle(token);
  PSID owner = reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid;
  BYTE system[SECURITY_MAX_SID_SIZE];
  DWORD n1 = sizeof system;
  ::CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &n1);
  ASSERT_EQ(dacl->AceCount, 2);
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &ace->SidStart;
    EXPECT_TRUE(::EqualSid(sid, system) || ::EqualSid(sid, owner)) << "entry " << i << " lets someone else in";
    EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
  }
  ::LocalFree(sd);
  EXPECT_EQ(p.readFile(path), "<record/>");
  // A device is no file to read (the null device would read as empty), nor is a file over the cap.
  EXPECT_EQ(errorNumberOf([&] { p.readFile("NUL"); }), kPathFileAccessError);
  HANDLE grown = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const LARGE_INTEGER end{{static_cast<DWORD>(kReplySizeCap + 1), 0}};
  EXPECT_TRUE(::SetFilePointerEx(grown, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(grown) && ::CloseHandle(grown));
  EXPECT_EQ(errorNumberOf([&] { p.readFile(path); }), kPathFileAccessError);
  p.deleteFile(path);
}

// One lock for every spelling of a folder, short or long enough to go by a
// hash, that writes nothing there and refuses the thread holding it; an earlier
// version's lock file goes unless someone has it open.
TEST(WinFiles, FolderLockIsOnePerFolderAndLeavesNoFile) {
  char base[MAX_PATH];
  ::GetTempPathA(MAX_PATH, base);
  WinPlatform p([](const std::string&) {});
  for (const std::size_t length : {0, 235}) {
    std::string folder = base + std::to_string(::GetCurrentProcessId()) + "L";
    folder.resize(std::max(folder.size(), length), 'L');
    const std::string earlier = folder + "\\.lock.tmp0_0";
    std::string other = folder + "\\";
    std::transform(other.begin(), other.end(), other.begin(), [](char c) { return char(std::tolower(c)); });
    p.createFolder(folder);
    ::CloseHandle(::CreateFileA(earlier.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    HANDLE open = ::CreateFileA(earlier.c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    p.lockFolder(folder);
    EXPECT_TRUE(p.fileExists(earlier));
    ::CloseHandle(open);
    const auto held = p.lockFolder(folder);
    std::vector<FolderEntry> entries;
    EXPECT_EQ(p.fileSystem().listFolder(folder, entries), 0);
    EXPECT_TRUE(entries.empty()) << entries.size();
    try {
      p.lockFolder(other);
      ADD_FAILURE() << "taken twice";
    } catch (const AutomationError& e) {
      EXPECT_EQ(e.description(), "Permission denied: " + other);
    }
    EXPECT_TRUE(::RemoveDirectoryA(folder.c_str())) << folder;
  }
}

// The settings are read from the 32-bit view whichever DLL reads them.
TEST(WinRegistry, ReadsThe32BitViewOnly) {
  const char* key = "SOFTWARE\\QMXProdViewTest";
  const auto create = [](HKEY parent, const char* name, REGSAM view) {
    HKEY k = nullptr;
    EXPECT_EQ(::RegCreateKeyExA(parent, name, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &k, nullptr),
              ERROR_SUCCESS);
    return k;
  };
  HKEY k32 = create(HKEY_LOCAL_MACHINE, key, KEY_WOW64_32KEY), k64 = create(HKEY_LOCAL_MACHINE, key, KEY_WOW64_64KEY);
  ::RegSetValueExA(k32, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("thirty-two"), 11);
  ::RegSetValueExA(k64, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("sixty-four"), 11);
  const DWORD number = 0xFFFFFFFF;
  ::RegSetValueExA(k32, "n", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
  ::RegCloseKey(create(k32, "b", KEY_WOW64_32KEY));
  ::RegCloseKey(create(k32, "A", KEY_WOW64_32KEY));

  WinPlatform p([](const std::string&) {});
  const auto value = p.registryValue(key, "");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, kRegSz);
  EXPECT_EQ(value->data, std::string("thirty-two\0", 11));
  const auto n = p.registryValue("\\SOFTWARE\\QMXProdViewTest\\", "N");
  ASSERT_TRUE(n);
  EXPECT_EQ(n->type, kRegDword);
  EXPECT_EQ(n->data, std::string(4, '\xFF'));
  EXPECT_EQ(p.registrySubkeys(key), (Names{"A", "b"}));
  EXPECT_EQ(p.registryValue(key, "missing"), std::nullopt);
  EXPECT_EQ(p.registrySubkeys("SOFTWARE\\QMXProdNoSuchKey"), std::nullopt);

  for (const auto& [k, view] : {std::pair(k32, KEY_WOW64_32KEY), std::pair(k64, KEY_WOW64_64KEY)}) {
    ::RegDeleteTreeA(k, nullptr);
    ::RegCloseKey(k);
    ::RegDeleteKeyExA(HKEY_LOCAL_MACHINE, key, view, 0);
  }
}

TEST(WinCharsets, DecodesThroughTheSystemCodePages) {
  WinPlatform p([](const std::string&) {});
  EXPECT_EQ(p.decodeCharset("\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251"), "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82");
  EXPECT_EQ(p.decodeCharset("\xE9t\xE9", "ISO-8859-1"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(p.decodeCharset("\x93\xFA\x96\x7B", "Shift_JIS"), "\xE6\x97\xA5\xE6\x9C\xAC");
  EXPECT_EQ(p.decodeCharset("abc", "no-such-charset"), std::nullopt);
  EXPECT_EQ(p.decodeCharset("abc", "cp"), std::nullopt);
}

TEST(WinPasswordHash, Sha256AndPbkdf2MatchThePublishedVectorsAndTheRecordNamesItsScheme) {
  EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // PBKDF2-HMAC-SHA256("password", "salt", 1 and 2 rounds, 32 bytes).
  auto hex = [](const std::string& s) {
    std::string out;
    for (unsigned char c : s) out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
    return out;
  };
  EXPECT_EQ(hex(password::pbkdf2Sha256("password", "salt", 1, 32)),
            "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b");
  EXPECT_EQ(hex(password::pbkdf2Sha256("password", "salt", 2, 32)),
            "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43");

  WinPlatform p([](const std::string&) {});
  const std::string hash = p.hashPassword("demo123");
  EXPECT_EQ(hash.rfind("$pbkdf2-sha256$600000$", 0), 0u) << hash;
  EXPECT_TRUE(p.isPasswordHash(hash));
  EXPECT_NE(hash, p.hashPassword("demo123")) << "no fresh salt";
  EXPECT_TRUE(p.passwordMatchesHash("demo123", hash));
  EXPECT_FALSE(p.passwordMatchesHash("demo124", hash));
  // Clear text and damaged records are no hashes; a forged round count is not worked through.
  EXPECT_FALSE(p.isPasswordHash("demo123"));
  EXPECT_FALSE(p.isPasswordHash(hash + "$"));
  EXPECT_FALSE(p.isPasswordHash("$pbkdf2-sha256$0$c2FsdA$" + hash.substr(hash.rfind('$') + 1)));
  std::string forged = hash;
  forged.replace(15, 6, "4000000000");
  EXPECT_FALSE(p.passwordMatchesHash("demo123", forged));
  EXPECT_EQ(errorNumberOf([&] { p.hashPassword(std::string("a\0b", 3)); }), kInvalidProcedureCall);
  // A Linux machine's yescrypt record cannot be checked here (the credential record refuses it).
  const std::string yescrypt = "$y$j9T$abcdefghijklmnop$0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefg";
  EXPECT_FALSE(p.isPasswordHash(yescrypt));
  EXPECT_FALSE(p.passwordMatchesHash(yescrypt, yescrypt));
}

// A one-connection HTTP peer on loopback: records the request, sends a reply
// (with dripMs, the head at once and then a body byte every dripMs until the client leaves).
class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::string reply, int dripMs = 0) : reply_(std::move(reply)), dripMs_(dripMs) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at);
    ::listen(listener_, 1);
    int len = sizeof at;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &len);
    port_ = ntohs(at.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackPeer() {
    ::closesocket(listener_);
    thread_.join();
  }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
  std::string received() {
    thread_.join();
    thread_ = std::thread([] {});
    return request_;
  }

 private:
  void serve() {
    SOCKET s = ::accept(listener_, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;
    char buf[4096];
    // Headers, then as much body as Content-Length says.
    for (;;) {
      const int n = ::recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      request_.append(buf, n);
      const auto end = request_.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      const auto cl = request_.find("Content-Length: ");
      const std::size_t body = cl == std::string::npos ? 0 : std::stoul(request_.substr(cl + 16));
      if (request_.size() >= end + 4 + body) break;
    }
    const std::size_t head = dripMs_ ? reply_.find("\r\n\r\n") + 4 : reply_.size();
    ::send(s, reply_.data(), static_cast<int>(head), 0);
    for (std::size_t i = head; i < reply_.size() && ::send(s, &reply_[i], 1, 0) == 1; ++i) ::Sleep(dripMs_);
    ::shutdown(s, SD_SEND);
    ::closesocket(s);
  }

  std::string reply_;
  int dripMs_;
  std::string request_;
  SOCKET listener_;
  unsigned short port_ = 0;
  std::thread thread_;
};

TEST(WinHttp, SendsTheAddressAsWrittenWithTheControlsHeadersAndReportsProgress) {
  LoopbackPeer peer("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 7\r\nConnection: close\r\n\r\n<xml/>\n");
  WinPlatform p([](const std::string&) {});
  auto session = p.openHttpSession();
  std::vector<std::uint64_t> progress;
  session->setProgressHandler([&](std::uint64_t got, std::uint64_t total) { progress.push_back(got + total * 1000); });
  HttpRequest request{"POST", peer.base() + "processForms.asp?a=1&Pwd=x%26y#z", std::string("<t>\xC3\xA9</t>"),
                      {{"Idempotency-Key", "abc-123"}}};
  const HttpReply reply = session->send(request);
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.contentType, "text/xml");
  EXPECT_EQ(reply.body, "<xml/>\n");
  EXPECT_EQ(progress.back(), 7u + 7000u);
  const std::string sent = peer.received();
  EXPECT_EQ(sent.rfind("POST /processForms.asp?a=1&Pwd=x%26y%23z HTTP/1.1\r\n", 0), 0u) << sent;
  EXPECT_NE(sent.find("\r\nIdempotency-Key: abc-123\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\r\nContent-Length: 9\r\n"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("Content-Type"), std::string::npos) << "a header the control did not ask for";
  EXPECT_EQ(sent.substr(sent.size() - 9), "<t>\xC3\xA9</t>");

  // Where WinHTTP decodes gzip (Windows 8.1 and later) the control asks for it in
  // the words the Linux control uses, and takes the decoded body; elsewhere (Wine 8) it never asks.
  const bool asks = sent.find("\r\nAccept-Encoding: gzip\r\n") != std::string::npos;
  EXPECT_TRUE(asks || sent.find("Accept-Encoding") == std::string::npos) << sent;
  if (asks) {
    LoopbackPeer gzipped("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 38\r\nConnection: close\r\n\r\n" +
                         std::string("\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\xB3\xA9\xC8\xCD\xB1\x4B\x4E\x4C\x3B\xBC"
                                     "\x52\x01\x89\xB4\xD1\x07\x09\x73\x01\x00\xCB\x3C\x7C\x93\x1D\x00\x00\x00", 38));
    EXPECT_EQ(session->send({"GET", gzipped.base() + "d.asp", std::nullopt}).body,
              "<xml>caf\xC3\xA9 caf\xC3\xA9 caf\xC3\xA9</xml>\n");
  }
}

// The error a GET ends with; a test failure when there is none.
AutomationError getError(HttpSession& session, const std::string& url) {
  try {
    session.send(HttpRequest{"GET", url, std::nullopt});
  } catch (const AutomationError& e) {
    return e;
  }
  ADD_FAILURE() << "no error from " << url;
  return AutomationError(0, "");
}

TEST(WinHttp, LimitsAndTransportErrorsFailNegativeAndNameTheAddressWithoutItsQuery) {
  WinPlatform p([](const std::string&) {});
  auto session = p.openHttpSession();
  {
    LoopbackPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n" + std::string(100, 'x'));
    session->setLimits(HttpLimits{std::chrono::seconds(5), std::chrono::seconds(5), 50});
    const AutomationError e = getError(*session, peer.base() + "data.asp?Pwd=secret");
    EXPECT_LT(e.number(), 0);
    EXPECT_NE(e.description().find("larger than 50 bytes"), std::string::npos) << e.description();
    EXPECT_EQ(e.description().find("secret"), std::string::npos) << e.description();
  }
  {
    // A reply dripping faster than the stall limit (alone 10 s) ends at the whole-request limit
    // with a read's timeout, as a stall does: WinHTTP's 12002, or the socket's 10060 under Wine.
    LoopbackPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + std::string(40, 'x'), 250);
    session->setLimits(HttpLimits{std::chrono::seconds(5), std::chrono::seconds(1), 1024, std::chrono::seconds(2)});
    const auto start = std::chrono::steady_clock::now();
    const AutomationError e = getError(*session, peer.base() + "d.asp?Pwd=secret");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(e.number() == -12002 || e.number() == -10060) << e.number();
    EXPECT_NE(e.description().find(peer.base() + "d.asp)"), std::string::npos) << e.description();
    EXPECT_TRUE(took >= std::chrono::seconds(2) && took < std::chrono::seconds(5));
  }
  // Nobody listens on port 1: a transport error, negative, without the query.
  const std::string address = "http://127.0.0.1:1/Bus_ChkComp.asp";
  const AutomationError refused = getError(*session, address + "?Pwd=secret");
  EXPECT_LT(refused.number(), 0);
  EXPECT_NE(refused.description().find("(" + address + ")"), std::string::npos) << refused.description();
  EXPECT_LT(errorNumberOf([&] { session->send(HttpRequest{"GET", "file:///c:/windows/win.ini", std::nullopt}); }), 0);
}

}  // namespace
}  // namespace qmx
