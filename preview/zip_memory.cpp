#include "preview/zip_memory.h"

#include <algorithm>
#include <cstring>

namespace kestrel {
namespace {

ZipMemoryStream& StreamOf(voidpf opaque) { return *static_cast<ZipMemoryStream*>(opaque); }

voidpf ZCALLBACK OpenMemory(voidpf opaque, const void*, int mode) {
    if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    StreamOf(opaque).pos = 0;
    return opaque;
}

uLong ZCALLBACK ReadMemory(voidpf opaque, voidpf, void* buf, uLong size) {
    ZipMemoryStream& s = StreamOf(opaque);
    const uint64_t n = std::min<uint64_t>(size, s.bytes.size() - s.pos);
    if (n != 0) std::memcpy(buf, s.bytes.data() + s.pos, n);
    s.pos += n;
    return uLong(n);
}

uLong ZCALLBACK WriteMemory(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK TellMemory(voidpf opaque, voidpf) { return StreamOf(opaque).pos; }

long ZCALLBACK SeekMemory(voidpf opaque, voidpf, ZPOS64_T offset, int origin) {
    ZipMemoryStream& s = StreamOf(opaque);
    const uint64_t size = s.bytes.size();
    uint64_t base = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            base = 0;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            base = s.pos;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            base = size;
            break;
        default:
            return -1;
    }
    // A target outside the buffer is an error, never a clamp: minizip must
    // see a damaged directory offset as damage.
    const uint64_t target = base + offset;
    if (target > size) return -1;
    s.pos = target;
    return 0;
}

int ZCALLBACK CloseMemory(voidpf, voidpf) { return 0; }
int ZCALLBACK ErrorMemory(voidpf, voidpf) { return 0; }

}  // namespace

ZipInMemory::ZipInMemory(ByteView file) {
    stream_.bytes = file;
    zlib_filefunc64_def functions{};
    functions.zopen64_file = OpenMemory;
    functions.zread_file = ReadMemory;
    functions.zwrite_file = WriteMemory;
    functions.ztell64_file = TellMemory;
    functions.zseek64_file = SeekMemory;
    functions.zclose_file = CloseMemory;
    functions.zerror_file = ErrorMemory;
    functions.opaque = &stream_;
    handle_ = unzOpen2_64("memory", &functions);
}

ZipInMemory::~ZipInMemory() {
    if (handle_) unzClose(handle_);
}

ZipMember ReadZipMember(unzFile zip, const char* name, size_t limit) {
    ZipMember member;
    if (!zip || unzLocateFile(zip, name, 1) != UNZ_OK) return member;
    member.status = ZipMemberRead::kDamaged;
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK ||
        unzOpenCurrentFile(zip) != UNZ_OK)
        return member;
    char chunk[16384];
    bool cut = false;
    for (;;) {
        // The one byte more than the limit tells a member that is cut from
        // one that ends exactly there.
        const size_t room = limit - member.bytes.size() + 1;
        const int got = unzReadCurrentFile(zip, chunk, unsigned(std::min(sizeof chunk, room)));
        if (got < 0) {
            unzCloseCurrentFile(zip);
            return member;
        }
        if (got == 0) break;
        member.bytes.append(chunk, size_t(got));
        if (member.bytes.size() > limit) {
            member.bytes.resize(limit);
            cut = true;
            break;
        }
    }
    // minizip checks the CRC only once the member was read to the size its
    // directory entry gives; a deflate stream that ends early is damage too.
    const int closed = unzCloseCurrentFile(zip);
    if (cut) {
        member.status = ZipMemberRead::kCut;
    } else if (closed == UNZ_OK && member.bytes.size() == info.uncompressed_size) {
        member.status = ZipMemberRead::kComplete;
    }
    return member;
}

}  // namespace kestrel
