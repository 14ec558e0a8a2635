#include "tests/support/PictureGroup.h"

#include "tests/support/ArchiveWriter.h"
#include "tests/support/UUEncode.h"
#include "tests/support/YEncEncode.h"

namespace test {

namespace {

constexpr const char* POSTER = "Poster <poster@example.com>";

// A file posted with yEnc in `count` articles, subjects as today's posting tools write them.
void PostYEnc(PictureGroup& group, const std::string& name, const std::string& file,
              std::uint32_t count, bool wanted = true, const std::string& set = {}) {
    for (std::uint32_t part = 1; part <= count; ++part) {
        std::string subject = set + "\"" + name + "\" yEnc (" + std::to_string(part) + "/" +
                              std::to_string(count) + ") " + std::to_string(file.size());
        std::string body = count == 1 ? YEncEncode(file, name) : YEncPart(file, name, part, count);
        group.articles.push_back({std::move(subject), POSTER, std::move(body), wanted});
    }
}

std::vector<ArchiveEntry> PicturesOf(PictureGroup& group, const std::string& folder, unsigned seed,
                                     unsigned count) {
    std::vector<ArchiveEntry> entries;
    for (unsigned i = 0; i < count; ++i) {
        const std::string name = folder + "-" + std::to_string(i + 1) + ".jpg";
        entries.push_back(
            {"pictures/" + name, PictureBytes(3000 + 500 * i, seed + i), EntryKind::File});
        group.pictures[folder + "/" + name] = entries.back().bytes;
    }
    return entries;
}

}  // namespace

PictureGroup TodaysPictureGroup() {
    PictureGroup group;
    const std::string beach01 = PictureBytes(20000, 1);
    const std::string beach02 = PictureBytes(15000, 2, true);
    const std::string sunset = PictureBytes(60000, 3);
    PostYEnc(group, "beach01.jpg", beach01, 1);
    group.pictures["beach01.jpg"] = beach01;
    PostYEnc(group, "beach02.png", beach02, 1);
    group.pictures["beach02.png"] = beach02;
    group.articles.push_back({"Re: beach pictures", "Reader <reader@example.com>",
                              "Lovely, thanks!\r\n\r\n> Here are two\r\n", true});
    PostYEnc(group, "sunset.jpg", sunset, 3);
    group.pictures["sunset.jpg"] = sunset;

    // A set: the ZIP of pictures with its PAR2 and NFO files.
    const std::vector<ArchiveEntry> shells = PicturesOf(group, "set-beach", 10, 5);
    std::vector<ArchiveEntry> zip = shells;
    zip.push_back({"readme.txt", "Pictures of the beach.\r\n"});
    const std::string set = "Beach set [1/4] - ";
    PostYEnc(group, "set-beach.zip", ZipArchive(zip), 2, true, set);
    PostYEnc(group, "set-beach.nfo", "Beach set, five pictures.\r\n", 1, false,
             "Beach set [2/4] - ");
    PostYEnc(group, "set-beach.par2", PictureBytes(2000, 90), 1, false, "Beach set [3/4] - ");
    PostYEnc(group, "set-beach.vol00+01.par2", PictureBytes(9000, 91), 2, false,
             "Beach set [4/4] - ");

    // A video in 25 parts, which must never be fetched.
    PostYEnc(group, "holiday.mkv", PictureBytes(25 * 4000, 92), 25, false);

    PostYEnc(group, "set-night.7z", SevenZipArchive(PicturesOf(group, "set-night", 20, 5)), 2);

    // A two-volume RAR set.
    const std::vector<std::string> volumes =
        Rar4Volumes(PicturesOf(group, "set-city", 30, 3), {8000});
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        PostYEnc(group, "set-city.part" + std::to_string(i + 1) + ".rar", volumes[i], 1);
    }

    // A picture under a name that says nothing: its bytes say JPEG.
    const std::string obfuscated = PictureBytes(30000, 4);
    PostYEnc(group, "a8f7e6d5c4b3", obfuscated, 2);
    group.pictures["a8f7e6d5c4b3.jpg"] = obfuscated;

    // Reposts of earlier pictures under other names.
    PostYEnc(group, "beach01 again.jpg", beach01, 1);
    PostYEnc(group, "night.jpg", shells[2].bytes, 1);

    // A uuencoded scan in two parts.
    const std::string scan = PictureBytes(9000, 5);
    const std::string encoded = UUEncode(scan, "scan042.jpg", "\r\n");
    const std::size_t half = encoded.find("\r\n", encoded.size() / 2) + 2;
    group.articles.push_back(
        {"scan042.jpg (1/2)", POSTER, "Old scan\r\n\r\n" + encoded.substr(0, half), true});
    group.articles.push_back({"scan042.jpg (2/2)", POSTER, encoded.substr(half), true});
    group.pictures["scan042.jpg"] = scan;

    group.articles.push_back(
        {"Re: Beach set", "Reader <reader@example.com>", "Where was this taken?\r\n", true});
    return group;
}

PictureGroup NextDaysPosts() {
    PictureGroup group;
    const std::string dunes = PictureBytes(25000, 6);
    PostYEnc(group, "dunes.jpg", dunes, 2);
    group.pictures["dunes.jpg"] = dunes;
    PostYEnc(group, "sunset-repost.jpg", PictureBytes(60000, 3), 3);
    return group;
}

}  // namespace test
