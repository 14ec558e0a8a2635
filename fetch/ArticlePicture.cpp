#include "fetch/ArticlePicture.h"

#include <optional>

#include "decode/PictureName.h"
#include "decode/UUDecoder.h"
#include "decode/YEncArticle.h"
#include "decode/YEncPicture.h"
#include "fetch/ArticleHeader.h"
#include "platform/Console.h"

namespace {

std::string DecodeArticle(const std::string& articleFile, const std::string& group) {
    // A failure inside the decoder costs this article its picture, never the run.
    try {
        return UUDecodeFile(articleFile, group);
    } catch (...) {
        return {};
    }
}

}  // namespace

std::string ExtractPicture(CPartAssembler& assembler, const std::string& group,
                           const CNewsMessage& message) {
    if (std::optional<CYEncPart> yenc = DecodeYEncArticle(message.body)) {
        if (!yenc->Verified()) {
            platform::WriteConsole("article " + std::to_string(message.number) +
                                   ": a yEnc part that fails its checks\n");
            return {};
        }
        if (yenc->WholeFile()) {
            return SaveYEncPicture(*yenc, group);
        }
        if (yenc->part == 0) {
            return {};  // part of a file, yet without its number: nothing to keep it apart by
        }
        CPartAssembler::Part part;
        part.kind = CPendingRecord::Kind::Ranges;
        part.key =
            yenc->name + "\n" + std::to_string(yenc->fileSize) + "\n" + std::to_string(yenc->total);
        part.name = SafePictureName(yenc->name).value_or("");
        part.number = yenc->part;
        part.total = yenc->total;
        part.fileSize = yenc->fileSize;
        part.offset = yenc->begin - 1;
        part.data = yenc->data;
        part.fileCrc = yenc->fileCrc;
        return assembler.AddPart(group, part);
    }
    const std::optional<CSubjectParts> numbers =
        FindSubjectParts(HeaderField(message.header, "Subject"));
    if (numbers && numbers->total > 1) {
        CUUPart uu = UUDecodePart(message.body);
        // A whole picture in one article, whatever its subject says, is the uudecoder's.
        if (!(uu.begun && uu.ended)) {
            if (!uu.begun && uu.data.empty()) {
                return {};  // no uuencoded lines: a text part of the posting
            }
            CPartAssembler::Part part;
            part.kind = CPendingRecord::Kind::Ordered;
            part.key = HeaderField(message.header, "From") + "\n" + numbers->rest + "\n" +
                       std::to_string(numbers->total);
            part.name = uu.name;
            part.number = numbers->number;
            part.total = numbers->total;
            part.data = uu.data;
            part.last = uu.ended;
            return assembler.AddPart(group, part);
        }
    }
    // The uudecoder reads an article file, made for this article alone and gone afterwards.
    CArticleFile articleFile;
    if (message.body.empty() || !articleFile.Create(message.number) ||
        !articleFile.Write(message.body)) {
        return {};
    }
    return DecodeArticle(articleFile.Path(), group);
}
