// FaultyPlatform: every call is counted before it is forwarded, so that a
// replay can aim a fault at any one of them.
#include "support/fake_platform.h"

namespace qmx::test {
namespace {

// The file primitives under a FaultyPlatform, each counted as one call.
class FaultyFileSystem : public FileSystem {
 public:
  FaultyFileSystem(FaultyPlatform& owner, FileSystem& inner, std::int32_t& error)
      : owner_(owner), inner_(inner), error_(error) {}

  EntryKind kind(const std::string& p) override { return due() ? EntryKind::None : inner_.kind(p); }
  bool isReadOnly(const std::string& p) override { return !due() && inner_.isReadOnly(p); }
  FsError createFolder(const std::string& p) override { return due() ? error_ : inner_.createFolder(p); }
  FsError createExclusive(const std::string& p, FileAccess a, std::unique_ptr<WritableFile>& f) override {
    if (due()) return error_;
    const FsError e = inner_.createExclusive(p, a, f);
    if (e == 0) f = std::make_unique<File>(*this, std::move(f));
    return e;
  }
  FsError renameOver(const std::string& from, const std::string& to) override {
    return due() ? error_ : inner_.renameOver(from, to);
  }
  FsError remove(const std::string& p) override { return due() ? error_ : inner_.remove(p); }
  FsError flushFolder(const std::string& p) override { return due() ? error_ : inner_.flushFolder(p); }
  FsError listFolder(const std::string& p, std::vector<FolderEntry>& e) override {
    return due() ? error_ : inner_.listFolder(p, e);
  }
  FsError readWhole(const std::string& p, std::uint64_t max, std::string& b) override {
    return due() ? error_ : inner_.readWhole(p, max, b);
  }
  FsError lockFolder(const std::string& p, std::unique_ptr<FileLock>& l) override {
    return due() ? error_ : inner_.lockFolder(p, l);
  }
  std::uint64_t writerId() override { return inner_.writerId(); }
  bool removeIfAbandoned(const std::string& p, std::int64_t quiet) override {
    return !due() && inner_.removeIfAbandoned(p, quiet);
  }

 private:
  class File : public WritableFile {
   public:
    File(FaultyFileSystem& fs, std::unique_ptr<WritableFile> inner) : fs_(fs), inner_(std::move(inner)) {}
    FsError write(std::string_view b) override { return fs_.due() ? fs_.error_ : inner_->write(b); }
    FsError flush() override { return fs_.due() ? fs_.error_ : inner_->flush(); }
    FsError close() override { return fs_.due() ? fs_.error_ : inner_->close(); }

   private:
    FaultyFileSystem& fs_;
    std::unique_ptr<WritableFile> inner_;
  };
  bool due() { return owner_.shouldFail(PlatformCall::FilePrimitive); }

  FaultyPlatform& owner_;
  FileSystem& inner_;
  std::int32_t& error_;
};

}  // namespace

FaultyPlatform::FaultyPlatform(Platform& inner, FilePlatform& backend)
    : ForwardingPlatform(inner),
      backend_(&backend),
      primitives_(std::make_unique<FaultyFileSystem>(*this, backend.fileSystem(), fileError_)) {
  backend.interposeFileSystem(primitives_.get());
}

FaultyPlatform::~FaultyPlatform() {
  if (backend_) backend_->interposeFileSystem(nullptr);
}

void FaultyPlatform::failAt(std::size_t n, std::int32_t fileError) {
  failAt_ = n;
  fileError_ = fileError;
  count_ = 0;
  injected_ = 0;
}

bool FaultyPlatform::shouldFail(PlatformCall kind) {
  if (!countOnly_.empty() && countOnly_.count(kind) == 0) return false;
  ++count_;
  const bool due = failAt_ != 0 && count_ == failAt_;
  // These two have no failure a caller could see.
  const bool canFail = kind != PlatformCall::OpenHttpSession && kind != PlatformCall::MessageBox;
  if (!due || !canFail) return false;
  ++injected_;
  return true;
}

void FaultyPlatform::throwFileFault(const std::string& path) const {
  throw AutomationError(fileError_, standardErrorText(fileError_) + ": " + path);
}

// A failing query answers as a miss; a failing file call throws as the real
// platforms do, leaving the old content.
std::optional<std::vector<std::string>> FaultyPlatform::registrySubkeys(std::string_view k) {
  return shouldFail(PlatformCall::RegistrySubkeys) ? std::nullopt : inner().registrySubkeys(k);
}
std::optional<RegistryValue> FaultyPlatform::registryValue(std::string_view k, std::string_view v) {
  return shouldFail(PlatformCall::RegistryValue) ? std::nullopt : inner().registryValue(k, v);
}
bool FaultyPlatform::fileExists(const std::string& p) {
  return !shouldFail(PlatformCall::FileExists) && inner().fileExists(p);
}
bool FaultyPlatform::folderExists(const std::string& p) {
  return !shouldFail(PlatformCall::FolderExists) && inner().folderExists(p);
}
void FaultyPlatform::createFolder(const std::string& p) {
  if (shouldFail(PlatformCall::CreateFolder)) throwFileFault(p);
  inner().createFolder(p);
}
std::optional<std::string> FaultyPlatform::readFile(const std::string& p) {
  if (shouldFail(PlatformCall::ReadFile)) throwFileFault(p);
  return inner().readFile(p);
}
void FaultyPlatform::replaceFile(const std::string& p, std::string_view bytes, FileAccess access) {
  if (shouldFail(PlatformCall::ReplaceFile)) throwFileFault(p);
  inner().replaceFile(p, bytes, access);
}
// One kind of call with replaceFile: a writer may use either.
void FaultyPlatform::replaceFileStreamed(const std::string& p, const ContentWriter& write, FileAccess access) {
  if (shouldFail(PlatformCall::ReplaceFile)) throwFileFault(p);
  inner().replaceFileStreamed(p, write, access);
}
void FaultyPlatform::deleteFile(const std::string& p) {
  if (shouldFail(PlatformCall::DeleteFile)) throwFileFault(p);
  inner().deleteFile(p);
}
std::vector<std::string> FaultyPlatform::listFiles(const std::string& folder) {
  if (shouldFail(PlatformCall::ListFiles)) throwFileFault(folder);
  return inner().listFiles(folder);
}
std::unique_ptr<FileLock> FaultyPlatform::lockFolder(const std::string& folder) {
  if (shouldFail(PlatformCall::LockFolder)) throwFileFault(folder);
  return inner().lockFolder(folder);
}
std::optional<std::uint32_t> FaultyPlatform::queryConnectedState() {
  return shouldFail(PlatformCall::QueryConnectedState) ? std::nullopt : inner().queryConnectedState();
}
bool FaultyPlatform::setConnectedState(std::uint32_t state, std::uint32_t flags) {
  return !shouldFail(PlatformCall::SetConnectedState) && inner().setConnectedState(state, flags);
}

namespace {

// A session whose sends count among the platform's calls and can be failed.
class FaultyHttpSession : public HttpSession {
 public:
  FaultyHttpSession(FaultyPlatform& owner, std::unique_ptr<HttpSession> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  HttpReply send(const HttpRequest& request) override {
    if (owner_.shouldFail(PlatformCall::HttpSend)) {
      throw AutomationError(-7, "Couldn't connect to server (" + request.url + ")");
    }
    return inner_->send(request);
  }
  void setLimits(const HttpLimits& limits) override { inner_->setLimits(limits); }
  void setProgressHandler(ProgressHandler handler) override { inner_->setProgressHandler(std::move(handler)); }

 private:
  FaultyPlatform& owner_;
  std::unique_ptr<HttpSession> inner_;
};

}  // namespace

std::unique_ptr<HttpSession> FaultyPlatform::openHttpSession() {
  shouldFail(PlatformCall::OpenHttpSession);
  return std::make_unique<FaultyHttpSession>(*this, inner().openHttpSession());
}
void FaultyPlatform::messageBox(const std::string& text) {
  shouldFail(PlatformCall::MessageBox);
  inner().messageBox(text);
}
std::optional<std::string> FaultyPlatform::decodeCharset(std::string_view bytes, std::string_view charset) {
  return shouldFail(PlatformCall::DecodeCharset) ? std::nullopt : inner().decodeCharset(bytes, charset);
}
std::string FaultyPlatform::hashPassword(std::string_view password) {
  if (shouldFail(PlatformCall::HashPassword)) throw AutomationError(kInvalidProcedureCall, "No hash could be made");
  return inner().hashPassword(password);
}
bool FaultyPlatform::isPasswordHash(std::string_view text) {
  return !shouldFail(PlatformCall::IsPasswordHash) && inner().isPasswordHash(text);
}
bool FaultyPlatform::passwordMatchesHash(std::string_view password, std::string_view storedHash) {
  return !shouldFail(PlatformCall::PasswordMatchesHash) && inner().passwordMatchesHash(password, storedHash);
}

}  // namespace qmx::test
