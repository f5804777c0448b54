#include "ResumablePart.h"

#include "StagedFiles.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

using namespace Qt::StringLiterals;

namespace resumablepart {

bool isSinglePlainFile(const QFile& file, qint64 size)
{
    const int fd = file.handle();
    if (fd < 0)
        return false;
#ifdef Q_OS_WIN
    BY_HANDLE_FILE_INFORMATION info = {};
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    if (!GetFileInformationByHandle(handle, &info) || info.nNumberOfLinks != 1)
        return false;
    const qint64 bytes = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return bytes == size;
#else
    struct stat st = {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_size == size;
#endif
}

std::optional<Opened> open(const GameDir& root, const ResumeRecord& record, QString* why)
{
    std::optional<GameDir> folder =
        root.openSub(record.folderPath.split(u'/', Qt::SkipEmptyParts), false);
    if (!folder || !StagedFiles::isPartName(record.part)) {
        *why = u"no part file to continue"_s;
        return std::nullopt;
    }
    Opened opened;
    if (folder->kindOf(record.part) == GameDir::Kind::File)
        opened.file = folder->openForAppend(record.part);
    opened.size = opened.file ? opened.file->size() : -1;
    const bool sizeFits = record.partSize >= 0
                              ? opened.size == record.partSize
                              : opened.size > 0 && (record.size < 0 || opened.size <= record.size);
    if (!opened.file || !sizeFits || !isSinglePlainFile(*opened.file, opened.size)) {
        *why = u"the part is not a plain file of ours of the recorded size"_s;
        opened.file.reset();
        if (folder->kindOf(record.part) != GameDir::Kind::Missing)
            folder->removeFile(record.part);
        return std::nullopt;
    }
    opened.folder = std::make_shared<GameDir>(std::move(*folder));
    return opened;
}

} // namespace resumablepart
