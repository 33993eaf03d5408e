// Fandril: members of ZIP archives as Tcl channels. A member opened for
// reading is inflated whole into memory and checked; a member opened for
// writing is deflated into the one archive being created. A name without
// "<archive>" refers to an archive appended to the running program.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <string>
#include <vector>

#include <minizip/unzip.h>
#include <minizip/zip.h>
#include <tcl.h>
#include <zlib.h>

#include "cmds.h"
#include "yastro.h"

namespace {

// A member is held whole in memory: larger ones are refused, whatever
// their header claims.
const uint64_t kMaxMember = 256u << 20;
const size_t kCacheSize = 11;

struct ZipfileData {
    unsigned char *data = nullptr;
    int64_t size = 0;
    int64_t position = 0;
    Tcl_Channel channel = nullptr;
    zipFile writer = nullptr; // null for a read channel, and once the archive is finished
    bool writing = false;
};

struct ZipMember {
    std::string name;
    uint64_t size;
};

// A listed archive, valid while its file keeps the same identity, size and
// time of change.
struct ZipArchiveEntry {
    std::string archive;
    std::vector<ZipMember> members; // central-directory order
    dev_t dev;
    ino_t ino;
    off_t size;
    struct timespec mtime;
};

// Process-wide: the archive being created, its open member, the channel
// counter and the listing cache (newest first).
zipFile writeArchive = nullptr;
std::string writeArchiveName;
ZipfileData *openMember = nullptr;
unsigned long channelCounter = 0;
std::list<ZipArchiveEntry> cache;

int fail(Tcl_Interp *interp, const std::string &s) {
    Tcl_SetObjResult(interp, Tcl_NewStringObj(s.c_str(), -1));
    return TCL_ERROR;
}

std::string quoted(const std::string &s) { return "\"" + s + "\""; }

void freeData(ZipfileData *z) {
    free(z->data);
    delete z;
}

// The running program's own file, which may carry an archive at its end.
std::string selfExecutable() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) return std::string(buf, n);
    const char *name = Tcl_GetNameOfExecutable();
    return name ? name : "";
}

// Splits "<archive>member", or a member of the default archive, into its
// parts; the member part uses '/' and loses one leading separator.
bool ZipSplitName(Tcl_Interp *interp, const char *defaultArchive, const std::string &name, std::string &archive,
                  std::string &member) {
    if (!name.empty() && name[0] == '<') {
        size_t close = name.find('>');
        if (close == std::string::npos) {
            if (interp)
                fail(interp, "invalid filename " + quoted(name) + ", should be: \"<archive>member\"");
            return false;
        }
        archive = name.substr(1, close - 1);
        member = name.substr(close + 1);
        for (char &c : member)
            if (c == '\\') c = '/';
        if (!member.empty() && member[0] == '/') member.erase(0, 1);
        return true;
    }
    if (!defaultArchive) {
        if (interp) fail(interp, "invalid filename " + quoted(name) + ", should be: \"<archive>member\"");
        return false;
    }
    archive = defaultArchive;
    member = name;
    if (!member.empty() && (member[0] == '/' || member[0] == '\\')) member.erase(0, 1);
    for (char &c : member)
        if (c == '\\') c = '/';
    return true;
}

// Names that extractors could write outside their target folder, or that
// name nothing, are not written.
bool safeMemberName(const std::string &m) {
    if (m.empty() || m[0] == '/') return false;
    if (m.size() >= 2 && m[1] == ':' && isalpha(static_cast<unsigned char>(m[0]))) return false;
    size_t start = 0;
    for (;;) {
        size_t slash = m.find('/', start);
        if (m.compare(start, slash == std::string::npos ? std::string::npos : slash - start, "..") == 0) return false;
        if (slash == std::string::npos) return true;
        start = slash + 1;
    }
}

// ---- the channel ---------------------------------------------------------------

int ZipCloseProc(ClientData cd, Tcl_Interp *) {
    ZipfileData *z = static_cast<ZipfileData *>(cd);
    int err = 0;
    if (z->writing && z->writer) {
        if (zipCloseFileInZip(z->writer) != ZIP_OK) err = EIO;
    }
    if (openMember == z) openMember = nullptr;
    freeData(z);
    return err;
}

int ZipInputProc(ClientData cd, char *buf, int count, int *errorCode) {
    ZipfileData *z = static_cast<ZipfileData *>(cd);
    if (count <= 0 || z->position >= z->size) return 0;
    int64_t n = std::min<int64_t>(count, z->size - z->position);
    memcpy(buf, z->data + z->position, static_cast<size_t>(n));
    z->position += n;
    return static_cast<int>(n);
}

int ZipOutputProc(ClientData cd, const char *buf, int count, int *errorCode) {
    ZipfileData *z = static_cast<ZipfileData *>(cd);
    if (!z->writer) {
        // The archive was finished under this channel.
        *errorCode = EBADF;
        return -1;
    }
    if (count > 0 && zipWriteInFileInZip(z->writer, buf, static_cast<unsigned>(count)) != ZIP_OK) {
        *errorCode = EIO;
        return -1;
    }
    return count;
}

int ZipSeekProc(ClientData cd, long offset, int mode, int *errorCode) {
    ZipfileData *z = static_cast<ZipfileData *>(cd);
    int64_t to;
    switch (mode) {
    case SEEK_SET: to = offset; break;
    case SEEK_CUR: to = z->position + offset; break;
    case SEEK_END: to = z->size + offset; break;
    default: *errorCode = EINVAL; return -1;
    }
    if (to < 0 || to > z->size) {
        *errorCode = EINVAL;
        return -1;
    }
    z->position = to;
    return static_cast<int>(to);
}

void ZipWatchProc(ClientData, int) {}

int ZipGetHandleProc(ClientData, int, ClientData *) { return TCL_ERROR; }

Tcl_ChannelType zipChannelType = {
    const_cast<char *>("zipfile"),
    TCL_CHANNEL_VERSION_5,
    ZipCloseProc,
    ZipInputProc,
    ZipOutputProc,
    ZipSeekProc,
    nullptr, // set option
    nullptr, // get option
    ZipWatchProc,
    ZipGetHandleProc,
    nullptr, // close2
    nullptr, // block mode
    nullptr, // flush
    nullptr, // handler
    nullptr, // wide seek
    nullptr, // thread action
    nullptr, // truncate
};

int publishChannel(Tcl_Interp *interp, ZipfileData *z, int mask) {
    std::string name = "zipfile" + std::to_string(channelCounter++);
    z->channel = Tcl_CreateChannel(&zipChannelType, name.c_str(), z, mask);
    Tcl_SetChannelOption(nullptr, z->channel, "-buffering", "none");
    Tcl_SetChannelOption(nullptr, z->channel, "-blocking", "1");
    Tcl_SetChannelOption(nullptr, z->channel, "-translation", "binary");
    // The member is in memory already: large buffers spare Tcl thousands of
    // small copies when a script reads it whole.
    if (mask == TCL_READABLE)
        Tcl_SetChannelBufferSize(z->channel, static_cast<int>(std::min<int64_t>(std::max<int64_t>(z->size, 4096), 1 << 20)));
    Tcl_RegisterChannel(interp, z->channel);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(name.c_str(), -1));
    return TCL_OK;
}

// Makes the member of that exact name current. The library's own search
// cuts names at 255 bytes; archives hold longer ones.
bool locateMember(unzFile uf, const std::string &member) {
    for (int code = unzGoToFirstFile(uf); code == UNZ_OK; code = unzGoToNextFile(uf)) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
        if (info.size_filename != member.size()) continue;
        std::vector<char> name(info.size_filename + 1);
        if (unzGetCurrentFileInfo64(uf, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                    0) != UNZ_OK)
            return false;
        if (memcmp(name.data(), member.data(), member.size()) == 0) return true;
    }
    return false;
}

// Inflates a member whole, refusing what cannot be trusted: encryption, a
// size beyond the limit, data longer or shorter than declared, a bad CRC.
int openForReading(Tcl_Interp *interp, const std::string &archive, const std::string &member) {
    unzFile uf = unzOpen64(archive.c_str());
    if (!uf) return fail(interp, "could not open ZIP archive " + quoted(archive));
    std::string where = "member " + quoted(member) + " in ZIP archive " + quoted(archive);
    auto failed = [&](const std::string &msg) {
        unzClose(uf);
        return fail(interp, msg);
    };
    if (!locateMember(uf, member))
        return failed("member " + quoted(member) + " not found in ZIP archive " + quoted(archive));
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        return failed("could not open " + where);
    if (info.flag & 1) return failed(where + " is encrypted");
    if (info.uncompressed_size > kMaxMember)
        return failed(where + " is too large (" + std::to_string(info.uncompressed_size) + " bytes)");
    int code = unzOpenCurrentFile(uf);
    if (code != UNZ_OK) return failed("could not open " + where + " (" + std::to_string(code) + ")");
    ZipfileData *z = new ZipfileData;
    z->size = static_cast<int64_t>(info.uncompressed_size);
    z->data = static_cast<unsigned char *>(malloc(static_cast<size_t>(z->size) + 1));
    if (!z->data) {
        freeData(z);
        unzCloseCurrentFile(uf);
        return failed("not enough memory for " + where);
    }
    int got = z->size ? unzReadCurrentFile(uf, z->data, static_cast<unsigned>(z->size)) : 0;
    char extra;
    bool ok = got == z->size && unzReadCurrentFile(uf, &extra, 1) == 0;
    // The CRC is checked when the member is closed.
    if (unzCloseCurrentFile(uf) != UNZ_OK) ok = false;
    if (!ok) {
        freeData(z);
        return failed("read from " + where + " failed");
    }
    unzClose(uf);
    return publishChannel(interp, z, TCL_READABLE);
}

int openForWriting(Tcl_Interp *interp, const std::string &member) {
    if (!writeArchive) return fail(interp, "no archive open");
    if (openMember) return fail(interp, "archive member still open - close it first");
    if (!safeMemberName(member)) return fail(interp, "invalid archive member name " + quoted(member));
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    // Archives store dates from 1980 on.
    if (tm.tm_year < 80) tm = {0, 0, 0, 1, 0, 80, 0, 0, 0, 0, nullptr};
    info.tmz_date.tm_sec = tm.tm_sec;
    info.tmz_date.tm_min = tm.tm_min;
    info.tmz_date.tm_hour = tm.tm_hour;
    info.tmz_date.tm_mday = tm.tm_mday;
    info.tmz_date.tm_mon = tm.tm_mon;
    info.tmz_date.tm_year = tm.tm_year + 1900;
    if (zipOpenNewFileInZip(writeArchive, member.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                            Z_DEFAULT_COMPRESSION) != ZIP_OK)
        return fail(interp, "could not create archive member " + quoted(member));
    ZipfileData *z = new ZipfileData;
    z->data = static_cast<unsigned char *>(calloc(16, 1));
    z->size = 16;
    z->writer = writeArchive;
    z->writing = true;
    openMember = z;
    return publishChannel(interp, z, TCL_WRITABLE);
}

// zopen FILENAME ?MODE?
// A channel on a member: "<archive>member", or a member of the archive
// appended to this program. Mode r reads it; w writes it into the archive
// that zcreate opened.
int ZopenCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr, *mode = "r";
    if (Cmds_ParseArgs(interp, 1, argc, argv, "filename %s mode ?s", &name, &mode)) return TCL_ERROR;
    if (strcmp(mode, "r") != 0 && strcmp(mode, "w") != 0)
        return fail(interp, std::string("illegal access mode ") + quoted(mode));
    std::string self = name[0] == '<' ? "" : selfExecutable();
    std::string archive, member;
    if (!ZipSplitName(interp, name[0] == '<' ? nullptr : self.c_str(), name, archive, member)) return TCL_ERROR;
    return mode[0] == 'r' ? openForReading(interp, archive, member) : openForWriting(interp, member);
}

// zcreate FILENAME
// Creates (or overwrites) the archive that members opened with mode w go
// into, until zclose.
int ZcreateCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "filename %s", &name)) return TCL_ERROR;
    if (writeArchive) return fail(interp, "archive open - zclose needed");
    Tcl_DString native;
    if (!Tcl_TranslateFileName(interp, name, &native)) return TCL_ERROR;
    writeArchive = zipOpen64(Tcl_DStringValue(&native), APPEND_STATUS_CREATE);
    if (writeArchive) writeArchiveName = Tcl_DStringValue(&native);
    Tcl_DStringFree(&native);
    if (!writeArchive) return fail(interp, "could not create the ZIP archive " + quoted(name));
    Tcl_ResetResult(interp);
    return TCL_OK;
}

void forgetListing(const std::string &archive) {
    for (auto it = cache.begin(); it != cache.end();)
        it = it->archive == archive ? cache.erase(it) : std::next(it);
}

// Finishes the archive being written: its open member, then its central
// directory. The member's channel stays until closed, but writes no more.
int finishArchive(const char *comment) {
    int bad = 0;
    if (openMember) {
        if (zipCloseFileInZip(writeArchive) != ZIP_OK) bad = 1;
        openMember->writer = nullptr;
        openMember = nullptr;
    }
    if (zipClose(writeArchive, comment && *comment ? comment : nullptr) != ZIP_OK) bad = 1;
    writeArchive = nullptr;
    forgetListing(writeArchiveName);
    return bad;
}

// zclose ?COMMENT?
// Finishes the archive being created, with COMMENT as its comment.
int ZcloseCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *comment = "";
    if (Cmds_ParseArgs(interp, 1, argc, argv, "comment ?s", &comment)) return TCL_ERROR;
    if (!writeArchive) return fail(interp, "no open archive");
    std::string name = writeArchiveName;
    if (finishArchive(comment)) return fail(interp, "could not finish the ZIP archive " + quoted(name));
    Tcl_ResetResult(interp);
    return TCL_OK;
}

// Reads an archive's member list; errno set on failure.
bool readListing(const std::string &archive, ZipArchiveEntry &entry) {
    unzFile uf = unzOpen64(archive.c_str());
    if (!uf) {
        errno = ENOENT;
        return false;
    }
    entry.archive = archive;
    entry.members.clear();
    int code = unzGoToFirstFile(uf);
    while (code == UNZ_OK) {
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(uf, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        // The name's own length, so that long names are neither cut nor
        // left without their end.
        std::vector<char> name(info.size_filename + 1);
        if (unzGetCurrentFileInfo64(uf, &info, name.data(), static_cast<uLong>(name.size()), nullptr, 0, nullptr,
                                    0) != UNZ_OK)
            break;
        name[info.size_filename] = '\0';
        entry.members.push_back({std::string(name.data(), info.size_filename), info.uncompressed_size});
        code = unzGoToNextFile(uf);
    }
    unzClose(uf);
    // An archive without members reports the end of the list at once.
    if (code != UNZ_END_OF_LIST_OF_FILE) {
        errno = EBADF;
        return false;
    }
    return true;
}

bool sameFile(const ZipArchiveEntry &e, const struct stat &st) {
    return e.dev == st.st_dev && e.ino == st.st_ino && e.size == st.st_size && e.mtime.tv_sec == st.st_mtim.tv_sec &&
           e.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

// The members of an archive, from the cache while its file is unchanged.
const ZipArchiveEntry *ZipOpenDir(const std::string &archive) {
    struct stat st;
    if (stat(archive.c_str(), &st) != 0) {
        errno = ENOENT;
        return nullptr;
    }
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->archive != archive) continue;
        if (sameFile(*it, st)) return &*it;
        cache.erase(it);
        break;
    }
    ZipArchiveEntry entry;
    if (!readListing(archive, entry)) return nullptr;
    entry.dev = st.st_dev;
    entry.ino = st.st_ino;
    entry.size = st.st_size;
    entry.mtime = st.st_mtim;
    cache.push_front(std::move(entry));
    while (cache.size() > kCacheSize) cache.pop_back();
    return &cache.front();
}

// zlist FILENAME
// The member names of an archive ("<archive>" or a file name), last
// central-directory entry first.
int ZlistCmd(ClientData, Tcl_Interp *interp, int argc, const char *argv[]) {
    const char *name = nullptr;
    if (Cmds_ParseArgs(interp, 1, argc, argv, "filename %s", &name)) return TCL_ERROR;
    std::string archive, member;
    const ZipArchiveEntry *entry = nullptr;
    errno = ENOENT;
    if (ZipSplitName(nullptr, name[0] == '<' ? nullptr : name, name[0] == '<' ? std::string(name) : std::string(),
                     archive, member))
        entry = ZipOpenDir(archive);
    if (!entry) {
        Tcl_SetErrno(errno);
        std::string msg = quoted(name) + ": " + Tcl_PosixError(interp);
        Tcl_SetObjResult(interp, Tcl_NewStringObj(msg.c_str(), -1));
        return TCL_ERROR;
    }
    Tcl_ResetResult(interp);
    for (auto it = entry->members.rbegin(); it != entry->members.rend(); ++it) Tcl_AppendElement(interp, it->name.c_str());
    return TCL_OK;
}

// zcrc32 DATA INITIALVALUE
// The CRC-32 of DATA's bytes continued from INITIALVALUE, as a signed
// 32-bit number.
int Zcrc32Cmd(ClientData, Tcl_Interp *interp, int objc, Tcl_Obj *const objv[]) {
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "data initialValue");
        return TCL_ERROR;
    }
    long init = 0;
    if (Tcl_GetLongFromObj(interp, objv[2], &init) != TCL_OK) return TCL_ERROR;
    int length = 0;
    const unsigned char *bytes = Tcl_GetByteArrayFromObj(objv[1], &length);
    uLong crc = crc32(static_cast<uint32_t>(init), bytes, static_cast<uInt>(length));
    Tcl_SetObjResult(interp, Tcl_NewLongObj(static_cast<int32_t>(static_cast<uint32_t>(crc))));
    return TCL_OK;
}

// An archive still being written at exit is finished, so that it can be
// read; the listing cache is released.
void ZipExitHandler(ClientData) {
    if (writeArchive) finishArchive(nullptr);
    cache.clear();
}

int init(Tcl_Interp *interp, bool safe) {
    if (Tcl_PkgProvide(interp, "Fandril", "1.0.1") != TCL_OK) return TCL_ERROR;
    // Commands that read or write files stay out of safe interpreters.
    if (!safe) {
        Tcl_CreateCommand(interp, "zopen", ZopenCmd, nullptr, nullptr);
        Tcl_CreateCommand(interp, "zlist", ZlistCmd, nullptr, nullptr);
        Tcl_CreateCommand(interp, "zcreate", ZcreateCmd, nullptr, nullptr);
        Tcl_CreateCommand(interp, "zclose", ZcloseCmd, nullptr, nullptr);
    }
    Tcl_CreateObjCommand(interp, "zcrc32", Zcrc32Cmd, nullptr, nullptr);
    static bool exitHandler = false;
    if (!exitHandler) {
        exitHandler = true;
        Tcl_CreateExitHandler(ZipExitHandler, nullptr);
    }
    return TCL_OK;
}

} // namespace

extern "C" {

int Fandril_Init(Tcl_Interp *interp) { return init(interp, false); }

int Fandril_SafeInit(Tcl_Interp *interp) { return init(interp, true); }

} // extern "C"
