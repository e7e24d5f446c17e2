// Drives a Susie import plug-in directly, the way the host does, for the Python tests:
//   spi_harness.exe PLUGIN COMMANDS.txt
// Each line of COMMANDS.txt is one command; each prints one line beginning with its number:
//   info                               -> the plug-in's information texts, "|"-separated
//   supported OFFSET FILE              -> IsSupported on a zero-filled 2 KB block read at OFFSET
//   supported-handle OFFSET FILE       -> IsSupported given an open file handle at OFFSET, and
//                                         where the handle's position is afterwards
//   pictinfo file|mem OFFSET FILE      -> GetPictureInfo's result and record
//   decode file|mem OFFSET FILE OUT [ABORT_AT]
//                                      -> GetPicture's result, block checks, progress calls;
//                                         the picture written to OUT as a BMP file
//   com none|sta|mta FILE              -> GetPicture with the thread's COM state set up first,
//                                         then whether that state is unchanged afterwards
//   spare FILL EXTRA                   -> arms the offer our plug-in helper makes: the next decode
//                                         that asks is lent a block of the size it asks for plus
//                                         EXTRA bytes, every byte FILL; that decode's line then
//                                         says what was asked ("spare-asked N") and whether the
//                                         block came back as the picture's rows ("spare-used")
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plugins/spare_rows_api.h"
#include "plugins/spi_api.h"

namespace {

// The helper's offer as the harness plays it (plugins/spare_rows_api.h).
struct SpareOffer {
  int fill = -1;  // -1: not armed
  SIZE_T extra = 0;
  long long asked = -1;  // what the plug-in asked for; -1: it did not ask
  HLOCAL lent = nullptr;
};
SpareOffer spare;

}  // namespace

extern "C" __declspec(dllexport) void* KOR_SPARE_ROWS_CALL KorvaleSpareRows(size_t bytes) {
  spare.asked = static_cast<long long>(bytes);
  if (spare.fill < 0 || bytes == 0) return nullptr;
  // Marked discardable, which no block of the plug-in's own is: a handle freed and made again
  // may come back with the same value.
  HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_DISCARDABLE, bytes + spare.extra);
  if (void* p = block ? LocalLock(block) : nullptr) {
    std::memset(p, spare.fill, bytes + spare.extra);
    LocalUnlock(block);
  }
  spare.fill = -1;
  spare.lent = block;
  return block;
}

namespace {

// An export as the entry-point type it has.
template <class T>
T proc(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

struct Plugin {
  SPI_GetPluginInfo getPluginInfo;
  SPI_IsSupported isSupported;
  SPI_GetPictureInfo getPictureInfo;
  SPI_GetPicture getPicture;
  SPI_GetPreview getPreview;
};

std::vector<char> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Bytes that end exactly at a page boundary followed by an inaccessible page, so that any read
// past the end faults at once instead of going unnoticed.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<char>& bytes) : size_(bytes.size()) {
    const size_t page = 4096, span = (size_ + page - 1) / page * page;
    base_ = static_cast<char*>(VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + span, page, PAGE_NOACCESS, &old);
    data_ = base_ + span - size_;
    if (size_) std::memcpy(data_, bytes.data(), size_);
  }
  ~GuardedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  const char* data() const { return data_; }
  spi_len_t size() const { return static_cast<spi_len_t>(size_); }

 private:
  size_t size_;
  char* base_;
  char* data_;
};

std::vector<char> tail(const std::vector<char>& data, long offset) {
  const long size = static_cast<long>(data.size());
  return std::vector<char>(data.begin() + (offset < size ? offset : size), data.end());
}

struct Progress {
  int calls = 0;
  int abortAt = 0;  // 0: never
  int32_t lastDone = -1;
  int32_t total = -1;
  bool ordered = true;  // done never decreases and stays within total
};

int32_t SPI_CALL progressCallback(int32_t done, int32_t total, spi_len_t lData) {
  Progress* p = reinterpret_cast<Progress*>(lData);
  ++p->calls;
  if (done < p->lastDone || done > total || (p->total >= 0 && total != p->total)) p->ordered = false;
  p->lastDone = done;
  p->total = total;
  return p->abortAt && p->calls >= p->abortAt ? 1 : 0;
}

// Checks the two blocks the way a careful host does and writes them out as a BMP file.
std::string checkAndWrite(HLOCAL hInfo, HLOCAL hBits, const std::string& out) {
  std::ostringstream s;
  if ((LocalFlags(hInfo) & LMEM_LOCKCOUNT) || (LocalFlags(hBits) & LMEM_LOCKCOUNT)) s << " locked";
  const SIZE_T infoSize = LocalSize(hInfo), bitsSize = LocalSize(hBits);
  const BITMAPINFOHEADER* h = static_cast<const BITMAPINFOHEADER*>(LocalLock(hInfo));
  const BYTE* bits = static_cast<const BYTE*>(LocalLock(hBits));
  if (!h || !bits || infoSize < sizeof(BITMAPINFOHEADER)) return " unreadable";
  const uint64_t stride = (static_cast<uint64_t>(h->biWidth) * h->biBitCount + 31) / 32 * 4;
  const uint64_t wantBits = stride * (h->biHeight < 0 ? -static_cast<int64_t>(h->biHeight) : h->biHeight);
  const SIZE_T wantInfo = sizeof(BITMAPINFOHEADER) + h->biClrUsed * sizeof(RGBQUAD);
  s << " bpp " << h->biBitCount << " size " << h->biWidth << "x" << h->biHeight << " clrused " << h->biClrUsed
    << " ppm " << h->biXPelsPerMeter << "x" << h->biYPelsPerMeter;
  if (h->biSize != 40) s << " badheader";
  if (h->biHeight <= 0) s << " topdown";
  if (infoSize != wantInfo) s << " infosize " << infoSize << "!=" << wantInfo;
  if (bitsSize != wantBits) s << " bitssize " << bitsSize << "!=" << wantBits;
  if (h->biSizeImage != wantBits) s << " sizeimage " << h->biSizeImage;
  if (infoSize == wantInfo && bitsSize == wantBits && !out.empty()) {
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = static_cast<DWORD>(sizeof fh + wantInfo);
    fh.bfSize = static_cast<DWORD>(fh.bfOffBits + wantBits);
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char*>(&fh), sizeof fh);
    f.write(reinterpret_cast<const char*>(h), static_cast<std::streamsize>(wantInfo));
    f.write(reinterpret_cast<const char*>(bits), static_cast<std::streamsize>(wantBits));
  }
  LocalUnlock(hInfo);
  LocalUnlock(hBits);
  return s.str();
}

// Calls GetPicture on a file name at an offset, or on the file's bytes from that offset.
int decode(const Plugin& spi, const std::string& mode, long offset, const std::string& path, HLOCAL* hInfo,
           HLOCAL* hBits, Progress* progress) {
  if (mode == "file")
    return spi.getPicture(path.c_str(), offset, SPI_INPUT_FILE, hInfo, hBits, progressCallback,
                          reinterpret_cast<spi_len_t>(progress));
  const GuardedBytes bytes(tail(readFile(path), offset));
  return spi.getPicture(bytes.data(), bytes.size(), SPI_INPUT_MEMORY, hInfo, hBits, progressCallback,
                        reinterpret_cast<spi_len_t>(progress));
}

std::string run(const Plugin& spi, std::istringstream& args) {
  std::string cmd;
  args >> cmd;
  std::ostringstream s;
  if (cmd == "info") {
    for (int n = 0; n < 40; ++n) {
      char buf[256];
      std::memset(buf, 0x7F, sizeof buf);
      const int r = spi.getPluginInfo(n, buf, 255);
      if (r <= 0) break;
      s << (n ? "|" : "") << buf;
    }
    char small[8];
    std::memset(small, 0x7F, sizeof small);
    const int r = spi.getPluginInfo(1, small, 5);
    s << "|truncated " << r << " " << (std::memchr(small, 0, 5) ? "terminated" : "unterminated")
      << (small[5] == 0x7F ? "" : " overrun");
    return s.str();
  }
  if (cmd == "supported") {
    long offset;
    std::string path;
    args >> offset >> path;
    // The zero-filled 2 KB block the host prepares, ending where an inaccessible page begins.
    std::vector<char> header = tail(readFile(path), offset);
    header.resize(2048);
    const GuardedBytes block(header);
    s << "supported "
      << spi.isSupported(path.c_str(), static_cast<spi_dw_t>(reinterpret_cast<uintptr_t>(block.data())));
    return s.str();
  }
  if (cmd == "supported-handle") {
    long offset;
    std::string path;
    args >> offset >> path;
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "cannot open";
    SetFilePointer(file, offset, nullptr, FILE_BEGIN);
    const int32_t r = spi.isSupported(path.c_str(), static_cast<spi_dw_t>(reinterpret_cast<uintptr_t>(file)));
    s << "supported " << r << " position " << SetFilePointer(file, 0, nullptr, FILE_CURRENT);
    CloseHandle(file);
    return s.str();
  }
  if (cmd == "pictinfo") {
    std::string mode, path;
    long offset;
    args >> mode >> offset >> path;
    SPI_PICTINFO info;
    std::memset(&info, 0x55, sizeof info);
    int r;
    std::vector<char> data = readFile(path);
    if (mode == "file") {
      r = spi.getPictureInfo(path.c_str(), offset, SPI_INPUT_FILE, &info);
    } else {
      const GuardedBytes bytes(tail(data, offset));
      r = spi.getPictureInfo(bytes.data(), bytes.size(), SPI_INPUT_MEMORY, &info);
    }
    s << "result " << r;
    if (r == 0)
      s << " size " << info.width << "x" << info.height << " at " << info.left << "," << info.top << " depth "
        << info.colorDepth << " density " << info.x_density << "x" << info.y_density << " hinfo "
        << (info.hInfo ? "set" : "null");
    return s.str();
  }
  if (cmd == "decode") {
    std::string mode, path, out;
    long offset;
    int abortAt = 0;
    args >> mode >> offset >> path >> out >> abortAt;
    Progress progress;
    progress.abortAt = abortAt;
    HLOCAL hInfo = reinterpret_cast<HLOCAL>(1), hBits = reinterpret_cast<HLOCAL>(1);
    const int r = decode(spi, mode, offset, path, &hInfo, &hBits, &progress);
    s << "result " << r << " progress " << progress.calls << " " << progress.lastDone << "/" << progress.total
      << (progress.ordered ? "" : " disordered");
    if (spare.asked >= 0) s << " spare-asked " << spare.asked;
    if (r == 0 && spare.lent && hBits == spare.lent && (LocalFlags(hBits) & LMEM_DISCARDABLE)) s << " spare-used";
    spare = SpareOffer();
    if (r == 0) {
      s << checkAndWrite(hInfo, hBits, out);
      LocalFree(hInfo);
      LocalFree(hBits);
    } else {
      s << (hInfo || hBits ? " handles-left" : "");
    }
    return s.str();
  }
  if (cmd == "com") {
    std::string model, path;
    args >> model >> path;
    HRESULT before = S_OK;
    if (model == "sta") before = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (model == "mta") before = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Progress progress;
    HLOCAL hInfo = nullptr, hBits = nullptr;
    const int r = decode(spi, "file", 0, path, &hInfo, &hBits, &progress);
    if (hInfo) LocalFree(hInfo);
    if (hBits) LocalFree(hBits);
    // Still initialised in the model we chose (S_FALSE), or not at all (S_OK) when we chose none.
    const HRESULT probe =
        CoInitializeEx(nullptr, model == "mta" ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    s << "result " << r << " before " << (before == S_OK ? "ok" : "other") << " after "
      << (probe == S_OK      ? "uninitialised"
          : probe == S_FALSE ? "initialised"
                             : "changed");
    if (SUCCEEDED(probe)) CoUninitialize();
    if (model != "none") CoUninitialize();
    return s.str();
  }
  if (cmd == "spare") {
    args >> spare.fill >> spare.extra;
    return "armed";
  }
  if (cmd == "preview") {
    std::string path;
    args >> path;
    HLOCAL hInfo = nullptr, hBits = nullptr;
    s << "result " << spi.getPreview(path.c_str(), 0, SPI_INPUT_FILE, &hInfo, &hBits, nullptr, 0);
    return s.str();
  }
  return "unknown command " + cmd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: spi_harness PLUGIN COMMANDS\n");
    return 2;
  }
  HMODULE lib = LoadLibraryA(argv[1]);
  if (!lib) {
    std::fprintf(stderr, "cannot load %s\n", argv[1]);
    return 1;
  }
  Plugin spi{proc<SPI_GetPluginInfo>(lib, "GetPluginInfo"), proc<SPI_IsSupported>(lib, "IsSupported"),
             proc<SPI_GetPictureInfo>(lib, "GetPictureInfo"), proc<SPI_GetPicture>(lib, "GetPicture"),
             proc<SPI_GetPreview>(lib, "GetPreview")};
  if (!spi.getPluginInfo || !spi.isSupported || !spi.getPictureInfo || !spi.getPicture || !spi.getPreview) {
    std::fprintf(stderr, "missing entry points\n");
    return 1;
  }
  std::ifstream commands(argv[2]);
  std::string line;
  int n = 0;
  while (std::getline(commands, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream args(line);
    std::printf("%d %s\n", n++, run(spi, args).c_str());
    std::fflush(stdout);
  }
  FreeLibrary(lib);
  return 0;
}
