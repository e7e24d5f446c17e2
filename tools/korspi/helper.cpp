#include "helper.h"

#include <cstring>
#include <memory>

#include "platform/localmem.h"
#include "platform/page_toucher.h"
#include "runner/picture_block.h"
#include "spare_rows.h"

namespace korspi {

Helper::Helper() : parent_{channel_.ParentId(), nullptr} {}

void Helper::Fault(const spirun::Fault& fault, uint32_t seq) {
  spiproto::FaultReport report;
  report.Entry = fault.Entry;
  report.Code = fault.Code;
  SendBytes(spiproto::Encode(report, seq));
  platform::EndProcessNow(3);
}

spirun::ModuleId Helper::ModuleFor(const std::string& path) {
  auto it = loads_.find(path);
  if (it != loads_.end() && !it->second.empty()) return it->second.back();
  auto re = reloaded_.find(path);
  if (re != reloaded_.end()) return re->second;
  const spirun::ModuleId id = runner_.Load(path, spirun::kLoadOnly).Id;
  if (id) reloaded_[path] = id;
  return id;
}

bool Helper::ReadInput(const spiproto::InputFields& fields, spirun::Input& input) {
  input.Flag = fields.Flag;
  input.FileName = fields.FileName;
  input.Offset = fields.Offset;
  if (input.Flag != SPI_INPUT_MEMORY) return true;
  if (fields.DataId != dataId_ || !data_) {
    data_.Reset();
    if (fields.Mapped <= spiproto::kMaxBlockBytes)
      data_ = platform::SharedMemory::Open(parent_, fields.Token, static_cast<size_t>(fields.Mapped));
    dataId_ = data_ ? fields.DataId : 0;
  }
  if (!data_ || fields.Size < 0 || static_cast<uint64_t>(fields.Size) > data_.Size()) return false;
  input.Memory = data_.Data();
  input.Size = fields.Size;
  return true;
}

void Helper::Load(const spiproto::Frame& frame) {
  spiproto::Load request;
  spiproto::Loaded answer;
  if (spiproto::Decode(frame, request)) {
    answer.Load = runner_.Load(request.Path, request.Required & ~spirun::kLoadOnly);
    if (answer.Load.Id) loads_[request.Path].push_back(answer.Load.Id);
    answer.Ok = answer.Load.Id != 0;
    answer.Load.Id = 0;  // the program numbers its modules itself
  }
  SendBytes(spiproto::Encode(answer, frame.Seq));
}

void Helper::AddRef(const spiproto::Frame& frame) {
  spiproto::AddRef request;
  if (!spiproto::Decode(frame, request)) return;
  const spirun::ModuleId id = runner_.Load(request.Path, spirun::kLoadOnly).Id;
  if (id) loads_[request.Path].push_back(id);
}

void Helper::Release(const spiproto::Frame& frame) {
  spiproto::Release request;
  if (!spiproto::Decode(frame, request)) return;
  auto it = loads_.find(request.Path);
  if (it == loads_.end() || it->second.empty()) return;
  runner_.Release(it->second.back());
  it->second.pop_back();
}

void Helper::IsSupported(const spiproto::Frame& frame) {
  spiproto::IsSupported request;
  spiproto::Result answer;
  if (spiproto::Decode(frame, request) && request.Header.size() == spirun::kHeaderBytes) {
    static uint8_t header[spirun::kHeaderBytes];
    std::memcpy(header, request.Header.data(), sizeof header);
    spirun::Fault fault;
    answer.Value = runner_.IsSupported(ModuleFor(request.Path), request.Name, header, request.Offset, fault);
    if (fault) Fault(fault, frame.Seq);
  }
  SendBytes(spiproto::Encode(answer, frame.Seq));
}

void Helper::PictureInfo(const spiproto::Frame& frame) {
  spiproto::PictureInfoRequest request;
  spirun::Input input;
  spirun::PictureInfo info;
  spiproto::Info answer;
  answer.Value = SPI_MEMORY_ERROR;
  if (spiproto::Decode(frame, request) && ReadInput(request.Input, input)) {
    spirun::Fault fault;
    answer.Value = runner_.GetPictureInfo(ModuleFor(request.Path), input, info, fault);
    if (fault) Fault(fault, frame.Seq);
    // The text handle is the helper's to free; the program never sees it.
    if (info.Record.hInfo) platform::LocalFreeBlock(info.Record.hInfo);
  }
  const SPI_PICTINFO& p = info.Record;
  answer.Left = p.left;
  answer.Top = p.top;
  answer.Width = p.width;
  answer.Height = p.height;
  answer.XDensity = p.x_density;
  answer.YDensity = p.y_density;
  answer.Depth = p.colorDepth;
  SendBytes(spiproto::Encode(answer, frame.Seq));
}

int32_t Helper::ProgressCall(int32_t done, int32_t total) {
  auto* control = reinterpret_cast<spiproto::Control*>(control_.Data());
  if (!control) return 0;
  control->Done = done;
  control->Total = total;
  __atomic_add_fetch(&control->Calls, 1u, __ATOMIC_RELEASE);
  return __atomic_load_n(&control->Abort, __ATOMIC_ACQUIRE) ? 1 : 0;
}

void Helper::Picture(const spiproto::Frame& frame) {
  spiproto::PictureRequest request;
  spirun::Input input;
  spiproto::PictureDone done;
  done.Value = SPI_MEMORY_ERROR;
  std::unique_ptr<TDecodedPicture> picture;
  const bool decoded = spiproto::Decode(frame, request);
  pool_.Request(decoded ? request.Returned : std::vector<uint32_t>());
  // The block the picture is expected to need is made now and its pages touched on a thread of
  // their own while the plug-in decodes: the first write to a fresh page of shared memory is
  // costly (under Wine, whose shared memory is a file, 200-270 ms for a 24-megapixel picture,
  // against 30-45 ms into pages touched before).  The thread ends before the picture is written.
  platform::PageToucher toucher;
  if (decoded && request.ExpectedBytes >= platform::PageToucher::kWorthTouching &&
      request.ExpectedBytes <= spiproto::kMaxBlockBytes) {
    if (platform::SharedMemory* block = pool_.Expect(static_cast<size_t>(request.ExpectedBytes)))
      toucher.Start(block->Data(), block->Size());
  }
  if (decoded && ReadInput(request.Input, input)) {
    pictureName_ = request.Input.FileName;
    spirun::Fault fault;
    done.Value = runner_.GetPicture(
        ModuleFor(request.Path), request.Preview, input,
        [this](int32_t d, int32_t total) { return ProgressCall(d, total); }, picture, fault);
    if (fault) Fault(fault, frame.Seq);
  }
  done.Rejected = runner_.Rejected();
  // Rows kept for a plug-in that did not take them this time go before the picture's block is
  // made: they are held from one picture to the next, never beside a picture of another kind.
  SpareRows().LetGo();
  platform::SharedMemory none;
  if (done.Value != SPI_SUCCESS || !picture) {
    AnswerPicture(done, frame.Seq, none);
    return;
  }
  // One copy: the plug-in's blocks into the BMP file image the program reads.  A block the
  // program still maps is never written again: its bitmap may keep the rows as long as it lives.
  toucher.Finish();
  const TDecodedLayout layout = picture->Layout();
  const spiproto::TPictureBlock block = spiproto::TPictureBlock::For(layout);
  platform::SharedMemory* image = nullptr;
  if (block.Valid(spiproto::kMaxBlockBytes))
    image = pool_.Lend(static_cast<size_t>(block.MappedBytes), done.BlockId);
  if (!image) {
    done.Value = SPI_NO_MEMORY;
    AnswerPicture(done, frame.Seq, none);
    return;
  }
  WriteFileImage(layout, picture->Info(), picture->Bits(), image->Data() + block.Offset);
  // The rows' block, its pages made, stays for a plug-in that asks for one of its size.
  SpareRows().Keep(picture->TakeBits());
  picture.reset();
  done.Has = true;
  done.Token = image->Lend(platform::PeerProcess{});
  done.Block = block;
  AnswerPicture(done, frame.Seq, *image);
}

uint64_t Helper::LendBlock(const void* data, size_t bytes) {
  lent_ = platform::SharedMemory::Create(bytes);
  if (!lent_) return 0;
  std::memcpy(lent_.Data(), data, bytes);
  return lent_.Lend(platform::PeerProcess{});
}

void Helper::ArchiveInfo(const spiproto::Frame& frame) {
  spiproto::ArchiveRequest request;
  spirun::Input input;
  spiproto::ArchiveDone done;
  done.Value = SPI_MEMORY_ERROR;
  std::vector<spirun::ArchiveEntry> entries;
  if (spiproto::Decode(frame, request) && ReadInput(request.Input, input)) {
    spirun::Fault fault;
    done.Value = runner_.GetArchiveInfo(ModuleFor(request.Path), input, entries, done.Cut, fault);
    if (fault) Fault(fault, frame.Seq);
  }
  if (done.Value == SPI_SUCCESS && !entries.empty()) {
    const std::string listing = spiproto::EncodeListing(entries);
    done.Token = LendBlock(listing.data(), listing.size());
    if (done.Token) {
      done.Count = static_cast<uint32_t>(entries.size());
      done.Bytes = listing.size();
    } else {
      done.Value = SPI_NO_MEMORY;
    }
  }
  SendBytes(spiproto::Encode(done, frame.Seq));
}

void Helper::FileInfo(const spiproto::Frame& frame) {
  spiproto::FileInfoRequest request;
  spirun::Input input;
  spiproto::FileInfoDone done;
  done.Value = SPI_MEMORY_ERROR;
  if (spiproto::Decode(frame, request) && ReadInput(request.Input, input)) {
    spirun::Fault fault;
    done.Value =
        runner_.GetFileInfo(ModuleFor(request.Path), input, request.Name, request.Flag, done.Entry, fault);
    if (fault) Fault(fault, frame.Seq);
  }
  // A record no entry can be made of is the plug-in's broken answer.
  if (done.Value == SPI_SUCCESS && !spirun::PlausibleEntry(done.Entry)) done.Value = SPI_MEMORY_ERROR;
  SendBytes(spiproto::Encode(done, frame.Seq));
}

void Helper::File(const spiproto::Frame& frame) {
  spiproto::FileRequest request;
  spirun::Input input;
  spiproto::FileDone done;
  done.Value = SPI_MEMORY_ERROR;
  std::vector<uint8_t> bytes;
  if (spiproto::Decode(frame, request) && ReadInput(request.Input, input)) {
    spirun::Fault fault;
    done.Value = runner_.GetFile(
        ModuleFor(request.Path), input, request.Position, request.Expected, request.Limit,
        [this](int32_t d, int32_t total) { return ProgressCall(d, total); }, bytes, fault);
    if (fault) Fault(fault, frame.Seq);
  }
  if (done.Value == SPI_SUCCESS) {
    done.Has = true;
    done.Bytes = bytes.size();
    if (!bytes.empty()) {
      done.Token = LendBlock(bytes.data(), bytes.size());
      if (!done.Token) done = spiproto::FileDone{SPI_NO_MEMORY, false, 0, 0};
    }
  }
  SendBytes(spiproto::Encode(done, frame.Seq));
}

int Helper::Run() {
  spiproto::FrameReader frames;
  uint8_t buffer[4096];
  for (;;) {
    spiproto::Frame frame;
    const spiproto::FrameReader::Status status = frames.Next(frame);
    if (status == spiproto::FrameReader::kBroken) return 2;
    if (status == spiproto::FrameReader::kPartial) {
      // No request for a while: the person looks at a picture, and the blocks kept for the
      // next ones go.
      if (frames.Empty() && (pool_.Holding() || SpareRows().Holding()) &&
          !channel_.Await(TBlockPool::kIdleMs)) {
        pool_.LetGo();
        SpareRows().LetGo();
      }
      // The header first, then the rest of the frame it announces, never past it.
      if (!channel_.Read(buffer, spiproto::kHeaderBytes)) return 0;
      frames.Append(buffer, spiproto::kHeaderBytes);
      spiproto::Reader head(buffer, spiproto::kHeaderBytes);
      head.U32();
      head.U32();
      uint32_t left = head.U32();
      if (left > spiproto::kMaxPayload) return 2;
      while (left > 0) {
        const uint32_t n = left < sizeof buffer ? left : static_cast<uint32_t>(sizeof buffer);
        if (!channel_.Read(buffer, n)) return 0;
        frames.Append(buffer, n);
        left -= n;
      }
      continue;
    }
    // The program has taken the last picture over by now; a picture request says so itself,
    // with the blocks it hands back.
    if (frame.Type != spiproto::kPicture) pool_.Request(std::vector<uint32_t>());
    lent_.Reset();
    switch (frame.Type) {
      case spiproto::kHello: {
        spiproto::Hello hello;
        if (spiproto::Decode(frame, hello))
          control_ = platform::SharedMemory::Open(parent_, hello.ControlToken, spiproto::kControlBytes);
        if (control_)
          __atomic_store_n(&reinterpret_cast<spiproto::Control*>(control_.Data())->Ready, 1u,
                           __ATOMIC_RELEASE);
        break;
      }
      case spiproto::kLoad:
        Load(frame);
        break;
      case spiproto::kAddRef:
        AddRef(frame);
        break;
      case spiproto::kRelease:
        Release(frame);
        break;
      case spiproto::kIsSupported:
        IsSupported(frame);
        break;
      case spiproto::kPictureInfo:
        PictureInfo(frame);
        break;
      case spiproto::kPicture:
        Picture(frame);
        break;
      case spiproto::kArchiveInfo:
        ArchiveInfo(frame);
        break;
      case spiproto::kFileInfo:
        FileInfo(frame);
        break;
      case spiproto::kFile:
        File(frame);
        break;
      default:
        return 2;
    }
  }
}

}  // namespace korspi
