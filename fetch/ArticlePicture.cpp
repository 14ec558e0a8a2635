#include "fetch/ArticlePicture.h"

#include <algorithm>

#include "decode/FileKind.h"
#include "decode/PictureName.h"
#include "decode/UUDecoder.h"
#include "decode/YEncArticle.h"
#include "fetch/ArticleHeader.h"
#include "platform/Console.h"

namespace {

std::string Start(std::string_view bytes) {
    return std::string(bytes.substr(0, SNIFF_BYTES));
}

std::optional<CVolumeHint> VolumeOf(const CPostTarget* target) {
    return target != nullptr ? target->volume : std::nullopt;
}

// The state of a part added to the assembler, as the collection sees it.
CCollected FromAssembler(const CPartAssembler::Result& result) {
    CCollected collected = result.collected;
    collected.failed = collected.failed || result.state == CPartAssembler::Result::State::Failed;
    return collected;
}

}  // namespace

CArticleOutcome ExtractArticle(CPartAssembler& assembler, CPictureCollector& collector,
                               const std::string& group, const CNewsMessage& message,
                               const CPostTarget* target) {
    CArticleOutcome outcome;
    const std::string poster = HeaderField(message.header, "From");
    // What the assembler's record names the article by.
    std::string source = HeaderField(message.header, "Message-ID");
    if (source.empty()) {
        source = std::to_string(message.number);
    }
    if (std::optional<CYEncPart> yenc = DecodeYEncArticle(message.body)) {
        if (!yenc->Verified()) {
            platform::WriteConsole("article " + std::to_string(message.number) +
                                   ": a yEnc part that fails its checks\n");
            return outcome;
        }
        if (yenc->begin == 1) {
            outcome.firstBytes = Start(yenc->data);
        }
        const std::string name = SafePictureName(yenc->name).value_or("");
        if (yenc->WholeFile()) {
            outcome.collected = collector.CollectBytes(yenc->data, name, group, VolumeOf(target));
            return outcome;
        }
        if (yenc->part == 0) {
            return outcome;  // part of a file, yet without its number: nothing to keep it apart by
        }
        CPartAssembler::Part part;
        part.kind = CPendingRecord::Kind::Ranges;
        // The poster belongs to the key: two posters' files of one name and size never mix. A
        // picture begun by a version whose key left the poster out is finished under that key.
        part.formerKey =
            yenc->name + "\n" + std::to_string(yenc->fileSize) + "\n" + std::to_string(yenc->total);
        part.key = part.formerKey + "\n" + poster;
        part.name = name;
        part.number = yenc->part;
        part.total = yenc->total;
        part.fileSize = yenc->fileSize;
        part.offset = yenc->begin - 1;
        part.data = yenc->data;
        part.fileCrc = yenc->fileCrc;
        part.source = source;
        outcome.collected = FromAssembler(assembler.Add(group, part));
        return outcome;
    }
    const std::optional<CSubjectParts> numbers =
        FindSubjectParts(HeaderField(message.header, "Subject"));
    if (numbers && numbers->total > 1) {
        CUUPart uu = UUDecodePart(message.body);
        // A whole picture in one article, whatever its subject says, is the uudecoder's.
        if (!(uu.begun && uu.ended)) {
            if (!uu.begun && uu.data.empty()) {
                return outcome;  // no uuencoded lines: a text part of the posting
            }
            if (uu.begun) {
                outcome.firstBytes = Start(uu.data);
            }
            CPartAssembler::Part part;
            part.kind = CPendingRecord::Kind::Ordered;
            part.key = poster + "\n" + numbers->rest + "\n" + std::to_string(numbers->total);
            part.name = uu.name;
            part.number = numbers->number;
            part.total = numbers->total;
            part.data = uu.data;
            part.last = uu.ended;
            part.source = source;
            outcome.collected = FromAssembler(assembler.Add(group, part));
            return outcome;
        }
    }
    UUDecodeArticle(message.body, [&](const std::string& name, std::string_view bytes) {
        if (!outcome.firstBytes) {
            outcome.firstBytes = Start(bytes);
        }
        outcome.collected.Add(collector.CollectBytes(bytes, name, group, VolumeOf(target)));
    });
    return outcome;
}
