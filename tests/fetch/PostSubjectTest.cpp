// Subjects of posted files as posters and their tools write them.

#include "fetch/PostSubject.h"

#include <gtest/gtest.h>

namespace {

TEST(PostSubjectTest, SubjectsAsPostersWriteThem) {
    struct Case {
        std::string subject;
        std::string name;
        std::uint32_t part, parts, file, files;
        std::optional<std::uint64_t> size;
        bool yenc;
    };
    const std::optional<std::uint64_t> none;
    const Case cases[] = {
        {R"("name.ext" yEnc (1/5) 123456)", "name.ext", 1, 5, 0, 0, 123456, true},
        {R"([1/7] - "name.ext" yEnc (1/5) 123456)", "name.ext", 1, 5, 1, 7, 123456, true},
        {R"(Some words [03/12] - "name.ext" yEnc (01/15) 1.2 MB)", "name.ext", 1, 15, 3, 12,
         1258291, true},
        {"name.ext yEnc (1/5)", "name.ext", 1, 5, 0, 0, none, true},
        {R"("a picture (2) [hq].jpg" yEnc (2/3))", "a picture (2) [hq].jpg", 2, 3, 0, 0, none,
         true},
        {R"("pic (1/2).jpg" yEnc)", "pic (1/2).jpg", 0, 0, 0, 0, none, true},
        {R"("a.jpg" YENC (1/2))", "a.jpg", 1, 2, 0, 0, none, true},
        {R"("a.jpg" yenc(1/2))", "a.jpg", 1, 2, 0, 0, none, true},
        {R"("yenc.jpg" (1/2))", "yenc.jpg", 1, 2, 0, 0, none, false},
        {"  \"a.jpg\"   yEnc  (1/5)  ", "a.jpg", 1, 5, 0, 0, none, true},
        {R"(" a.jpg " yEnc (1/5))", "a.jpg", 1, 5, 0, 0, none, true},
        {R"(Poster's pics - "a.jpg" - yEnc (1/2))", "a.jpg", 1, 2, 0, 0, none, true},
        {R"("a.jpg" yEnc (1/5) 123456 bytes)", "a.jpg", 1, 5, 0, 0, 123456, true},
        {R"("a.jpg" yEnc (1/5) 850 KB)", "a.jpg", 1, 5, 0, 0, 870400, true},
        {R"("a.jpg" yEnc (1/5) 1,2 MB)", "a.jpg", 1, 5, 0, 0, 1258291, true},
        {R"("a.jpg" yEnc (1/5) (1.2 MB))", "a.jpg", 1, 5, 0, 0, 1258291, true},
        {R"("a.jpg" yEnc (1/5) [1.5 kB])", "a.jpg", 1, 5, 0, 0, 1536, true},
        {R"("a.jpg" yEnc (1/5) 2 GB)", "a.jpg", 1, 5, 0, 0, 2147483648, true},
        {R"("a.jpg" yEnc (1/5) 1,234,567)", "a.jpg", 1, 5, 0, 0, 1234567, true},
        {R"("a.jpg" yEnc (1/5) - 1.234.567)", "a.jpg", 1, 5, 0, 0, 1234567, true},
        {R"("a.jpg" yEnc (1/5) 1,234.5 KB)", "a.jpg", 1, 5, 0, 0, 1264128, true},
        {R"("a.jpg" yEnc 4096)", "a.jpg", 0, 0, 0, 0, 4096, true},
        {R"("a.jpg" yEnc (1/5) 12 pictures)", "a.jpg", 1, 5, 0, 0, none, true},
        {R"("a.jpg" yEnc (1/5) 1.5)", "a.jpg", 1, 5, 0, 0, none, true},
        {R"("a.jpg" yEnc (1/5) 2023-05-01)", "a.jpg", 1, 5, 0, 0, none, true},
        {R"("a.jpg" yEnc (1/5) 1,23,456)", "a.jpg", 1, 5, 0, 0, none, true},
        {R"("a.jpg" yEnc (1/5) 99999999999999999999 GB)", "a.jpg", 1, 5, 0, 0, none, true},
        {"scan042.jpg (1/3)", "scan042.jpg", 1, 3, 0, 0, none, false},
        {"scan042.jpg [1/3]", "scan042.jpg", 1, 3, 0, 0, none, false},
        {"scan042.jpg (0/5)", "scan042.jpg", 0, 5, 0, 0, none, false},
        {"[2/9] scan042.jpg", "scan042.jpg", 0, 0, 2, 9, none, false},
        {R"([2/7] - "name.ext" yEnc)", "name.ext", 0, 0, 2, 7, none, true},
        {"[1/7] - yEnc (1/5)", "", 1, 5, 1, 7, none, true},
        {"Holiday beach.jpg", "beach.jpg", 0, 0, 0, 0, none, false},
        {R"("beach.jpg" yEnc (1/1))", "beach.jpg", 1, 1, 0, 0, none, true},
        {"Re: nice pictures", "", 0, 0, 0, 0, none, false},
        {"Holiday 1.2 MB", "", 0, 0, 0, 0, none, false},
        {R"("a8f7e6d5c4b3" yEnc (1/5))", "a8f7e6d5c4b3", 1, 5, 0, 0, none, true},
        {"a8f7e6d5c4b3d2e1f0 yEnc (1/5)", "a8f7e6d5c4b3d2e1f0", 1, 5, 0, 0, none, true},
        {R"("a.jpg yEnc (1/2))", "a.jpg", 1, 2, 0, 0, none, true},
        {"cat.jpg (1/0)", "cat.jpg", 0, 0, 0, 0, none, false},
        {"cat.jpg (6/5)", "cat.jpg", 0, 0, 0, 0, none, false},
        {"cat.jpg (1/2000000)", "cat.jpg", 0, 0, 0, 0, none, false},
    };
    for (const Case& c : cases) {
        const CPostSubject parsed = ParseSubject(c.subject);
        EXPECT_EQ(parsed.name, c.name) << c.subject;
        EXPECT_EQ(parsed.part, c.part) << c.subject;
        EXPECT_EQ(parsed.parts, c.parts) << c.subject;
        EXPECT_EQ(parsed.file, c.file) << c.subject;
        EXPECT_EQ(parsed.files, c.files) << c.subject;
        EXPECT_EQ(parsed.size, c.size) << c.subject;
        EXPECT_EQ(parsed.yenc, c.yenc) << c.subject;
    }
}

TEST(PostSubjectTest, TheRestIsSharedByThePartsOfOnePostOnly) {
    const struct {
        std::string a, b;
        bool same;
    } pairs[] = {
        {R"("a.jpg" yEnc (1/5) 100)", R"("a.jpg" yEnc (05/5) 100)", true},
        {"scan042.jpg (0/3)", "scan042.jpg (3/3)", true},
        {R"("a.jpg" yEnc (1/5))", R"("b.jpg" yEnc (1/5))", false},
        {R"("a.jpg" yEnc (1/5))", R"("a.jpg" yEnc (1/6))", false},
        {R"("a.jpg" yEnc (1/5))", R"("a.jpg" yEnc [1/5])", false},
        {R"([1/7] "a.jpg" yEnc (1/5))", R"([2/7] "a.jpg" yEnc (1/5))", false},
    };
    for (const auto& pair : pairs) {
        EXPECT_EQ(ParseSubject(pair.a).rest == ParseSubject(pair.b).rest, pair.same) << pair.a;
    }
    EXPECT_EQ(ParseSubject("Re: nice pictures").rest, "Re: nice pictures");
}

}  // namespace
