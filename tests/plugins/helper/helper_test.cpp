// The plug-in runner of the program: every call goes to the korspi helper.  Pictures come back
// whole through shared memory (from files, from memory, past a MacBinary header, in blocks
// handed back and written again), progress is
// relayed, and every way a plug-in can misbehave costs only its attempt: a later plug-in still
// decodes the file, and when none does, the error names the one that faulted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "../../../spi/decode/kvp_format.h"
#include "graphics/decode_fixtures.h"
#include "graphics/spi_bitmap.h"
#include "graphics/spi_graphic.h"
#include "picture/picture.h"
#include "reach_probe.h"
#include "platform/process.h"
#include "runner/helper_runner.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

using namespace decodefx;

namespace {

constexpr uint32_t kTrap = 0x8000;  // the switch that makes the faulty fixtures misbehave

std::string FaultFixture(const std::string& name) {
  return Core(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / (name + ".spi"));
}

class Helper : public ::testing::Test {
 protected:
  Helper() {
    auto runner = std::make_unique<spirun::THelperRunner>(spirun::THelperRunner::DefaultHelperPath());
    runner->SetTimeoutMs(1500);  // the endless plug-in is given up after this
    runner_ = runner.get();
    spirun::SetCurrent(std::move(runner));
  }
  ~Helper() override {
    set_.reset();
    spirun::SetCurrent(nullptr);
  }
  // A fresh runner with the helper program `path`; the set goes first, its modules with it.
  void UseHelper(const std::string& path) {
    set_.reset();
    auto runner = std::make_unique<spirun::THelperRunner>(path);
    runner->SetTimeoutMs(1500);
    runner_ = runner.get();
    spirun::SetCurrent(std::move(runner));
  }
  // A plug-in set (MacBinary on) of the decoding fixture kvpdec and then the named faulty ones.
  TSPIs& Set(const std::vector<std::string>& faults, bool withDecoder = true) {
    set_.reset();
    set_ = std::make_unique<TSPIs>(nullptr);
    if (withDecoder) set_->Add(CreateSPI(Fixture("kvpdec")));
    for (const std::string& f : faults) set_->Add(CreateSPI(FaultFixture(f)));
    return *set_;
  }

  spirun::THelperRunner* runner_;
  std::unique_ptr<TSPIs> set_;
  ScratchDir dir;
  ProgressLog log;
};

TEST_F(Helper, PicturesComeBackWholeFromFilesMemoryAndPastAMacBinaryHeader) {
  Set({});
  // A helper's first picture is announced by the size the plug-in gave for it; a large one goes
  // into a block the helper made and touched while the plug-in decoded.
  Kvp large;
  large.width = 1100;
  large.height = 1000;
  large.bits = 24;
  {
    TSPIBitmap first;
    first.LoadFile(dir.Write("large.kvp", large.File()));
    ExpectPicture(first, large);
  }
  Kvp k;
  k.width = 37;
  k.height = 11;
  k.bits = 8;
  k.switches = KVP_PROGRESS;
  TPicture picture;
  picture.OnProgress = log.Listener();
  picture.LoadFile(dir.Write("photo.kvp", k.File()));
  ExpectPicture(*picture.AsBitmap(), k);
  // The plug-in's progress reached the listener between the seeking and the ending steps.
  const std::string steps = log.Text();
  EXPECT_NE(steps.find("R1:Loading by [kvpdec.spi]"), std::string::npos) << steps;
  EXPECT_NE(steps.find("|R99:|"), std::string::npos) << steps;

  Kvp top;
  top.height = -5;
  top.bits = 24;
  TMemoryStream stream;
  const std::string bytes = top.File(true);
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  TSPIBitmap fromMemory;
  fromMemory.LoadFromStreamWithName(stream, "photo.kvp");
  ExpectPicture(fromMemory, top);

  TSPIBitmap fromFile;
  fromFile.LoadFile(dir.Write("mac.kvp", top.File(true)));
  ExpectPicture(fromFile, top);

  // The block of a picture let go is written again for a later picture that fits in it; a
  // picture still held keeps its block to itself.  (Both pictures take blocks of one size.)
  Kvp wide, tall;
  wide.width = tall.height = 16;
  wide.height = tall.width = 8;
  const std::string wideName = dir.Write("wide.kvp", wide.File());
  const std::string tallName = dir.Write("tall.kvp", tall.File());
  auto held = std::make_unique<TSPIBitmap>();
  held->LoadFile(wideName);
  for (int i = 0; i < 4; ++i) {
    auto next = std::make_unique<TSPIBitmap>();
    next->LoadFile(i % 2 ? wideName : tallName);
    ExpectPicture(*held, i % 2 ? tall : wide);
    held = std::move(next);
  }
  ExpectPicture(*held, wide);
  EXPECT_EQ(runner_->Starts(), 1);
}

struct Misdeed {
  const char* fixture;
  // 1: the helper faults; 0: the plug-in returns nonsense, which counts as "cannot" without a
  // fault; -1: either (whether a broken heap ends the process is the heap's choice: glibc's
  // always does, Wine's may carry on).  Faulted or answered nonsense, the helper is replaced.
  int faults;
  const char* happened;  // what the error says, natively and on Windows
};

class Misbehaving : public Helper, public ::testing::WithParamInterface<Misdeed> {};

TEST_P(Misbehaving, CostsOnlyItsAttemptAndIsNamedWhenNothingDecodes) {
  const Misdeed& m = GetParam();
  // The faulty plug-in declares .kvp and comes later in the set, so it is asked first.
  Set({m.fixture});
  Kvp k;
  k.switches = kTrap;
  TPicture picture;
  picture.LoadFile(dir.Write("trap.kvp", k.File()));
  ExpectPicture(*picture.AsBitmap(), k);
  if (m.faults >= 0) {
    EXPECT_EQ(runner_->Starts(), 2);
  }

  // Alone, it decodes nothing; the previous picture stays and the error says who and where.
  Set({m.fixture}, false);
  Kvp other;
  other.width = 5;
  other.switches = kTrap;
  try {
    picture.LoadFile(dir.Write("alone.kvp", other.File()));
    FAIL() << "no failure";
  } catch (const ESPIPluginFault& e) {
    EXPECT_NE(m.faults, 0) << e.Message();
    EXPECT_NE(e.Message().find(std::string(m.fixture) + ".spi:"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("GetPicture"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find(m.happened), std::string::npos) << e.Message();
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(m.faults, 1) << e.Message();
    EXPECT_EQ(e.Message(), "Susie Plugins could not decode");
  }
  ExpectPicture(*picture.AsBitmap(), k);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Misbehaving,
    ::testing::Values(Misdeed{"fault_null", 1, "("}, Misdeed{"fault_heap", -1, "("},
                      Misdeed{"fault_stack", 1, "("}, Misdeed{"fault_endless", 1, "応答しなくなりました"},
                      Misdeed{"fault_exit", 1, "(終了コード 7)"}, Misdeed{"fault_sameblock", 0, ""}),
    [](const ::testing::TestParamInfo<Misdeed>& info) { return std::string(info.param.fixture); });

TEST_F(Helper, AbandonedWaitEndsTheLoadSilentlyAndKeepsThePicture) {
  Set({"fault_endless"});
  Kvp good;
  TPicture picture;
  picture.LoadFile(dir.Write("good.kvp", good.File()));
  int waits = 0;
  spirun::SetWaitHook([&] { return ++waits < 3; });
  Kvp trap;
  trap.switches = kTrap;
  EXPECT_THROW(picture.LoadFile(dir.Write("trap.kvp", trap.File())), EAbort);
  spirun::SetWaitHook(nullptr);
  EXPECT_EQ(waits, 3);
  ExpectPicture(*picture.AsBitmap(), good);
  // The next load starts a fresh helper.
  picture.LoadFile(dir.Write("again.kvp", good.File()));
  EXPECT_EQ(runner_->Starts(), 2);
}

TEST_F(Helper, PluginsThatFaultWhileBeingIdentifiedAreSkippedAtTheSearch) {
  EXPECT_EQ(CreateSPI(FaultFixture("fault_load")), nullptr);
  EXPECT_EQ(CreateSPI(FaultFixture("fault_info")), nullptr);
  set_.reset();
  set_ = std::make_unique<TSPIs>(nullptr);
  set_->SetSearchOptions({});
  const std::string folder = dir.Core();
  for (const char* name : {"fault_load", "fault_info", "fault_null"})
    fs::copy_file(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / (std::string(name) + ".spi"),
                  dir.Path() / (std::string(name) + ".spi"));
  set_->Search(folder + "*.spi");
  ASSERT_EQ(set_->Count(), 1);
  EXPECT_NE(set_->Items(0)->FileName().find("fault_null.spi"), std::string::npos);
  EXPECT_EQ(set_->Items(0)->APIVersion(), "00IN");

  // Of loads sent ahead, one that nobody then asks for and that ends the helper costs the next
  // one nothing: it goes to a fresh helper.
  runner_->Expect({FaultFixture("fault_info"), FaultFixture("fault_null")}, 1);
  const spirun::LoadResult loaded = runner_->Load(FaultFixture("fault_null"), 1);
  EXPECT_NE(loaded.Id, 0u);
  EXPECT_EQ(loaded.Kind, "00IN");
  runner_->Release(loaded.Id);
}

// The helper inherits no handle of the program but its channel, and natively gets no more
// address space than its cap: the reaching fixture refuses the picture, which the decoder after
// it then shows.  (Wine accepts the job's process, memory and interface limits without
// enforcing them, so those are not asked here.)
TEST_F(Helper, RunsWithOnlyItsChannelAndWithinItsLimits) {
  const InheritableProbe probe;
  ASSERT_FALSE(probe.Name().empty());
  SetEnv("KORVALE_REACH", probe.Name());
  const uint64_t cap = platform::HelperAddressLimit();
  SetEnv("KORVALE_REACH_BYTES", cap ? std::to_string(cap + (uint64_t(1) << 30)) : "");
  Set({"fault_reach"});
  Kvp k;
  k.switches = kTrap;
  TPicture picture;
  picture.LoadFile(dir.Write("trap.kvp", k.File()));
  SetEnv("KORVALE_REACH", "");
  SetEnv("KORVALE_REACH_BYTES", "");
  ExpectPicture(*picture.AsBitmap(), k);
  EXPECT_FALSE(probe.Reached());
}

// The lying helper (liar.cpp) relays to kvpdec but lies, as KORVALE_LIE says, in its answer
// about a file named "lie": each lie is refused, says so, names the plug-in and costs only its
// attempt; the next call gets a fresh helper and its picture.  A header rewritten in the block after the
// answer changes nothing the program holds.
TEST_F(Helper, LiesInPictureAnswersCostOnlyTheirAttempt) {
  const std::string helper = spirun::THelperRunner::DefaultHelperPath();
#if defined(_WIN32)
  const std::string liarPath = helper.substr(0, helper.rfind("korspi")) + "korspi_liar.exe";
#else
  const std::string liarPath = helper.substr(0, helper.rfind("korspi")) + "korspi_liar";
#endif
  auto lie = [](const char* how) {
#if defined(_WIN32)
    _putenv_s("KORVALE_LIE", how);
#else
    setenv("KORVALE_LIE", how, 1);
#endif
  };
  Kvp good;
  good.width = 9;
  good.bits = 8;
  Kvp other;
  other.width = 6;
  other.height = 3;
  other.bits = 24;
  for (const char* how : {"wrap", "small", "extra", "unsolicited", "kind", "handle", "garbage", "cut"}) {
    SCOPED_TRACE(how);
    lie(how);
    UseHelper(liarPath);
    Set({});
    TPicture picture;
    picture.LoadFile(dir.Write("good.kvp", good.File()));
    try {
      picture.LoadFile(dir.Write("lie.kvp", other.File()));
      ADD_FAILURE() << "the lie was taken";
    } catch (const ESPIPluginFault& e) {
      EXPECT_NE(e.Message().find("kvpdec.spi:"), std::string::npos) << e.Message();
      // Every lie is a refused answer; only the helper that ends itself halfway through its
      // answer has ended its process.
      const std::string happened =
          std::string(how) == "cut" ? "(終了コード 0)" : "GetPictureの結果が不正なため拒否しました";
      EXPECT_NE(e.Message().find(happened), std::string::npos) << e.Message();
    }
    ExpectPicture(*picture.AsBitmap(), good);
    picture.LoadFile(dir.Write("again.kvp", other.File()));
    ExpectPicture(*picture.AsBitmap(), other);
    EXPECT_EQ(runner_->Starts(), 2);
  }

  lie("rewrite");
  UseHelper(liarPath);
  Set({});
  TSPIGraphic honest, rewritten;
  honest.LoadFile(dir.Write("good.kvp", good.File()));
  rewritten.LoadFile(dir.Write("lie.kvp", good.File()));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the helper rewrites after 300 ms
  TMemoryStream a, b;
  honest.SaveStream(a);
  rewritten.SaveStream(b);
  ASSERT_EQ(a.Size(), b.Size());
  EXPECT_EQ(std::memcmp(a.Memory(), b.Memory(), static_cast<size_t>(a.Size())), 0);
  std::unique_ptr<TGraphic> bitmap = rewritten.MakeBitmapAndRelease(&TBitmap::Class);
  ExpectPicture(*bitmap, good);
  // A block past this thread's limit is refused before it is mapped, without a fault.
  const spirun::TThreadPictureLimit limit(64);
  EXPECT_THROW(honest.LoadFile(dir.Write("good.kvp", good.File())), EInvalidGraphic);
  lie("");
}

// Little-endian fields one after another.
struct Le {
  std::string bytes;
  Le& operator()(uint64_t v, int width) {
    for (int i = 0; i < width; ++i) bytes += static_cast<char>(v >> 8 * i & 0xFF);
    return *this;
  }
  Le& operator()(const std::string& s) {
    bytes += s;
    return *this;
  }
};

using Files = std::vector<std::pair<std::string, std::string>>;

// A ZIP of stored entries, as the plainest writer makes one (no descriptors, no extra fields).
std::string StoredZip(const Files& files) {
  Le zip, central;
  for (const auto& file : files) {
    const std::string& name = file.first;
    const std::string& data = file.second;
    uint32_t crc = 0xFFFFFFFF;
    for (unsigned char c : data) {
      crc ^= c;
      for (int k = 0; k < 8; ++k) crc = crc >> 1 ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    crc = ~crc;
    const uint32_t at = static_cast<uint32_t>(zip.bytes.size());
    // Flags, stored, 12:00 on 1 January 2020, CRC, both sizes, the name's length, no extra field.
    auto common = [&](Le& out) -> Le& {
      return out(0, 2)(0, 2)(0x6000, 2)(0x5021, 2)(crc, 4)(data.size(), 4)(data.size(), 4)(name.size(), 2)(0,
                                                                                                           2);
    };
    common(zip(0x04034B50, 4)(20, 2))(name)(data);
    common(central(0x02014B50, 4)(20, 2)(20, 2))(0, 2)(0, 2)(0, 2)(0, 4)(at, 4)(name);
  }
  const size_t directoryAt = zip.bytes.size();
  return zip(central.bytes)(0x06054B50, 4)(0, 2)(0, 2)(files.size(), 2)(files.size(), 2)(
             central.bytes.size(), 4)(directoryAt, 4)(0, 2)
      .bytes;
}

// A KFA1 archive of the misbehaving archive fixtures (spi/faults/faulty_archive.c).
std::string Kfa(const Files& files) {
  Le out;
  out("KFA1");
  for (const auto& [name, data] : files) out(name.size(), 4)(name)(data.size(), 4)(data);
  return out.bytes;
}

auto Fields(const spirun::ArchiveEntry& e) {
  return std::make_tuple(e.Method, e.Position, e.CompSize, e.FileSize, e.Timestamp, e.Path, e.FileName,
                         e.Crc);
}

void ExpectSameEntries(const std::vector<spirun::ArchiveEntry>& got,
                       const std::vector<spirun::ArchiveEntry>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(Fields(got[i]), Fields(want[i])) << "entry " << i;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The archive calls through the helper answer what the plug-in answers in this process: korzip's
// listing of a ZIP, from its file and from memory past a header, entry for entry; an entry by its name; each
// entry's exact bytes; and an entry larger than the caller's limit refused as out of memory.
TEST_F(Helper, ArchiveCallsAnswerAsInThisProcess) {
  const Files files = {{"one.txt", "first entry"},
                       {"pics/two.bin", std::string("\0\x01\x02\xFF binary", 11)},
                       {"pics/deep/three.txt", std::string(3000, 'z')}};
  const std::string zip = StoredZip(files);
  spirun::Input file;
  file.FileName = dir.Write("stored.zip", zip);
  // In memory the archive starts past 128 bytes of something else, as after a MacBinary header;
  // an entry's position counts from the archive's start.
  const std::string data = std::string(128, 'x') + zip;
  spirun::Input memory;
  memory.Flag = SPI_INPUT_MEMORY;
  memory.Memory = reinterpret_cast<const uint8_t*>(data.data());
  memory.Size = static_cast<int32_t>(data.size());
  memory.Offset = 128;
  const std::string korzip = Core(KOR_KORZIP);
  spirun::TInProcessRunner here;
  const spirun::ModuleId local = here.Load(korzip, 1).Id;
  const spirun::LoadResult remote = runner_->Load(korzip, 1);
  ASSERT_NE(local, 0u);
  ASSERT_NE(remote.Id, 0u);
  EXPECT_EQ(remote.Kind, "00AM");
  for (const spirun::Input* input : {&file, &memory}) {
    SCOPED_TRACE(input->Flag == SPI_INPUT_MEMORY ? "memory" : "file");
    std::vector<spirun::ArchiveEntry> expected, entries;
    bool cut = true;
    spirun::Fault fault;
    ASSERT_EQ(here.GetArchiveInfo(local, *input, expected, cut, fault), SPI_SUCCESS);
    cut = true;
    ASSERT_EQ(runner_->GetArchiveInfo(remote.Id, *input, entries, cut, fault), SPI_SUCCESS);
    EXPECT_FALSE(cut);
    ExpectSameEntries(entries, expected);
    ASSERT_EQ(entries.size(), files.size());
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < files.size(); ++i) {
      std::string name = files[i].first;
      for (char& c : name)
        if (c == '/') c = '\\';
      EXPECT_EQ(entries[i].Name(), name);
      EXPECT_EQ(entries[i].FileSize, files[i].second.size());
      EXPECT_EQ(runner_->GetFile(remote.Id, *input, entries[i].Position, entries[i].FileSize, 1 << 20,
                                 nullptr, bytes, fault),
                SPI_SUCCESS);
      EXPECT_EQ(Text(bytes), files[i].second) << name;
    }
    spirun::ArchiveEntry named;
    EXPECT_EQ(runner_->GetFileInfo(remote.Id, *input, "PICS\\TWO.BIN", SPI_IGNORE_CASE, named, fault),
              SPI_SUCCESS);
    ExpectSameEntries({named}, {entries[1]});
    EXPECT_EQ(runner_->GetFile(remote.Id, *input, entries[2].Position, entries[2].FileSize, 2999, nullptr,
                               bytes, fault),
              SPI_NO_MEMORY);
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(fault) << fault.Entry;
  }
  EXPECT_EQ(runner_->Starts(), 1);
}

// Misbehaving archive plug-ins (spi/faults/faulty_archive.c) cost only their call.  One whose
// GetFile crashes still lists, and the next call gets a fresh helper that answers.  One that lies
// in its listing gives the whole records before its block's end, cut, names no longer than their
// fields, and no more of an entry than its record or its block holds, through the helper as in
// this process.  One whose listing never ends is given up after the time limit.  The records'
// reading holds for either width.
TEST_F(Helper, MisbehavingArchivePluginsCostOnlyTheirCall) {
  spirun::Input archive;
  archive.FileName =
      dir.Write("trap.kfa", Kfa({{"first.txt", "one"}, {"second.bin", std::string(100, 's')}}));
  spirun::Fault fault;
  std::vector<spirun::ArchiveEntry> entries;
  std::vector<uint8_t> bytes;
  bool cut = true;

  const spirun::ModuleId crash = runner_->Load(FaultFixture("fault_archive_crash"), 1).Id;
  ASSERT_NE(crash, 0u);
  ASSERT_EQ(runner_->GetArchiveInfo(crash, archive, entries, cut, fault), SPI_SUCCESS);
  EXPECT_FALSE(cut);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].Name(), "second.bin");
  EXPECT_EQ(runner_->GetFile(crash, archive, entries[0].Position, entries[0].FileSize, 1 << 20, nullptr,
                             bytes, fault),
            SPI_INTERNAL_ERROR);
  EXPECT_TRUE(fault.What == spirun::Fault::kException || fault.What == spirun::Fault::kExited) << fault.What;
  EXPECT_EQ(fault.Entry, "GetFile");
  EXPECT_TRUE(bytes.empty());
  fault = spirun::Fault{};
  spirun::ArchiveEntry named;
  EXPECT_EQ(runner_->GetFileInfo(crash, archive, "second.bin", 0, named, fault), SPI_SUCCESS);
  EXPECT_EQ(Fields(named), Fields(entries[1]));
  EXPECT_EQ(runner_->Starts(), 2);

  const std::string lies = FaultFixture("fault_archive_lies");
  spirun::TInProcessRunner here;
  const spirun::ModuleId local = here.Load(lies, 1).Id, liar = runner_->Load(lies, 1).Id;
  ASSERT_NE(local, 0u);
  ASSERT_NE(liar, 0u);
  std::vector<spirun::ArchiveEntry> expected;
  ASSERT_EQ(here.GetArchiveInfo(local, archive, expected, cut, fault), SPI_SUCCESS);
  EXPECT_TRUE(cut);
  cut = false;
  ASSERT_EQ(runner_->GetArchiveInfo(liar, archive, entries, cut, fault), SPI_SUCCESS);
  EXPECT_TRUE(cut);
  ExpectSameEntries(entries, expected);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].FileName, "first.txt" + std::string(191, 'N'));
  EXPECT_EQ(entries[1].FileSize, uint64_t{1} << 30);
  // Each block holds 64 bytes more than the entry: cut at the record's size, or at the block's
  // end for a record that claims more.
  ASSERT_EQ(runner_->GetFile(liar, archive, entries[0].Position, entries[0].FileSize, 1 << 20, nullptr, bytes,
                             fault),
            SPI_SUCCESS);
  EXPECT_EQ(Text(bytes), "one");
  ASSERT_EQ(runner_->GetFile(liar, archive, entries[1].Position, entries[1].FileSize, 1 << 20, nullptr, bytes,
                             fault),
            SPI_SUCCESS);
  EXPECT_EQ(Text(bytes), std::string(100, 's') + std::string(64, 'J'));
  EXPECT_FALSE(fault) << fault.Entry;
  EXPECT_EQ(runner_->Starts(), 2);

  const spirun::ModuleId endless = runner_->Load(FaultFixture("fault_archive_endless"), 1).Id;
  ASSERT_NE(endless, 0u);
  EXPECT_EQ(runner_->GetArchiveInfo(endless, archive, entries, cut, fault), SPI_INTERNAL_ERROR);
  EXPECT_EQ(fault.What, spirun::Fault::kHung);
  EXPECT_EQ(fault.Entry, "GetArchiveInfo");
  EXPECT_TRUE(entries.empty());
  fault = spirun::Fault{};
  // Its first entry's name length comes right after the magic.
  EXPECT_EQ(runner_->GetFile(endless, archive, 4, 3, 1 << 20, nullptr, bytes, fault), SPI_SUCCESS);
  EXPECT_EQ(Text(bytes), "one");
  EXPECT_EQ(runner_->Starts(), 3);

  // Two records of either width and an ending one; the same block ending inside the second.
  for (int width : {4, 8}) {
    SCOPED_TRACE(width);
    const size_t record = static_cast<size_t>(SPI_FILEINFO_SIZE_OF(width));
    const uint64_t far = width == 8 ? uint64_t{1} << 32 : 0;
    std::vector<uint8_t> block(3 * record, 0);
    auto put = [&](size_t at, uint64_t v, int n) {
      for (int i = 0; i < n; ++i) block[at + i] = static_cast<uint8_t>(v >> 8 * i);
    };
    for (size_t r = 0; r < 2; ++r) {
      const size_t at = r * record;
      block[at] = 'M';
      put(at + SPI_FILEINFO_POSITION_AT(width), far + 10 + r, width);
      put(at + SPI_FILEINFO_COMPSIZE_AT(width), 20 + r, width);
      put(at + SPI_FILEINFO_FILESIZE_AT(width), 30 + r, width);
      put(at + SPI_FILEINFO_TIMESTAMP_AT(width), static_cast<uint64_t>(-2 - static_cast<int64_t>(r)), width);
      block[at + SPI_FILEINFO_PATH_AT(width)] = 'p';
      block[at + SPI_FILEINFO_FILENAME_AT(width)] = static_cast<uint8_t>('a' + r);
      put(at + SPI_FILEINFO_CRC_AT(width), 0xC0DE0000u + r, 4);
    }
    std::vector<spirun::ArchiveEntry> read =
        spirun::ReadArchiveRecords(block.data(), block.size(), width, cut);
    EXPECT_FALSE(cut);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(Fields(read[1]),
              std::make_tuple(std::string("M"), far + 11, uint64_t{21}, uint64_t{31}, int64_t{-3},
                              std::string("p"), std::string("b"), uint32_t{0xC0DE0001}));
    read = spirun::ReadArchiveRecords(block.data(), record + record / 2, width, cut);
    EXPECT_TRUE(cut);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].Name(), "pa");
  }
}

}  // namespace
