// The gallery: the thumbnail cache's entries (their names, keys, permissions and staleness),
// the loader that fills it off the window's thread, the model over the images folder (groups,
// the folders inside them, order, odd names, hidden files, files and folders that come and go,
// files that are no pictures), and the window's viewer, clipboard, folder and Delete, which the
// run's list follows.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QImageReader>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <map>

#include "platform/ProgramFolder.h"
#include "tests/support/Capture.h"
#include "tests/support/TempDir.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/CGalleryModel.h"
#include "ui/CGalleryWindow.h"
#include "ui/CThumbnailCache.h"
#include "ui/CThumbnailDelegate.h"
#include "ui/CThumbnailLoader.h"
#include "ui/CZarvoDlg.h"

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A picture of the size in the format its name's ending says, its modification time set.
void SavePicture(const fs::path& path, QSize size, std::time_t modified = 0) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    fs::create_directories(path.parent_path());
    ASSERT_TRUE(image.save(QString::fromStdString(path.string()))) << path;
    if (modified != 0) {
        fs::last_write_time(path, fs::file_time_type::clock::now() +
                                      std::chrono::seconds(modified - std::time(nullptr)));
    }
}

int Permissions(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
}

// Each test gets its own cache folder, so that no entry of another test (or run) is found.
class GalleryTest : public ::testing::Test {
protected:
    GalleryTest() { platform::SetProgramFolder(folder.Folder()); }

    QString Images() const { return QString::fromStdString((folder.Path() / "images").string()); }
    fs::path Picture(const std::string& group, const std::string& name) const {
        return folder.Path() / "images" / group / name;
    }

    test::TempDir folder{true};
    test::TempDir cacheHome;
    test::ScopedEnvironment cacheVariable{"XDG_CACHE_HOME", cacheHome.Path().string()};
    test::ErrorBoxRecorder boxes;
};

TEST_F(GalleryTest, CacheEntriesAreNamedByTheMd5OfTheFileAddress) {
    // Each address as the desktop's own file-name library writes it for the path.
    const struct {
        const char* path;
        const char* address;
    } cases[] = {
        {"/home/jens/photos/me.png", "file:///home/jens/photos/me.png"},
        {"/tmp/a b.jpg", "file:///tmp/a%20b.jpg"},
        {"/tmp/100% #1?.jpg", "file:///tmp/100%25%20%231%3F.jpg"},
        {"/tmp/\xc3\xbc.png", "file:///tmp/%C3%BC.png"},
        {"/tmp/[x];y.jpg", "file:///tmp/%5Bx%5D%3By.jpg"},
        {"/tmp/q\"'<&>.png", "file:///tmp/q%22'%3C&%3E.png"},
        {"/tmp/new\nline\x7f.png", "file:///tmp/new%0Aline%7F.png"},
        {"/tmp/back\\sl*?.bmp", "file:///tmp/back%5Csl*%3F.bmp"},
        {"/tmp/~u/(1)+,=@$!:.png", "file:///tmp/~u/(1)+,=@$!:.png"},
        {"/tmp/^`{|}.png", "file:///tmp/%5E%60%7B%7C%7D.png"},
    };
    const CThumbnailCache normal;
    const CThumbnailCache large(CThumbnailCache::Size::Large);
    EXPECT_EQ(normal.Folder().toStdString(), cacheHome.Path().string() + "/thumbnails/normal");
    EXPECT_EQ(large.Folder().toStdString(), cacheHome.Path().string() + "/thumbnails/large");
    for (const auto& c : cases) {
        const QString path = QString::fromUtf8(c.path);
        EXPECT_EQ(CThumbnailCache::FileAddress(path).toStdString(), c.address);
        const QByteArray md5 = QCryptographicHash::hash(c.address, QCryptographicHash::Md5);
        EXPECT_EQ(normal.EntryPath(path), normal.Folder() + "/" + md5.toHex() + ".png");
    }
    // The desktop's own example.
    EXPECT_TRUE(normal.EntryPath("/home/jens/photos/me.png")
                    .endsWith("/c6ee772d9e49320e97ec29a7eb5b1697.png"));
}

TEST_F(GalleryTest, CacheWritesPrivateEntriesWithTheirKeysAndRefusesStaleOnes) {
    const CThumbnailCache cache;
    const QString picture = "/nowhere/cat.jpg";
    QImage thumbnail(128, 96, QImage::Format_RGB32);
    thumbnail.fill(Qt::red);
    ASSERT_TRUE(cache.Store(picture, 1700000000, 4321, thumbnail));
    ASSERT_TRUE(cache.Store(picture, 1700000000, 4321, thumbnail));  // replaced in place

    const fs::path thumbnails = cacheHome.Path() / "thumbnails";
    EXPECT_EQ(Permissions(thumbnails), 0700);
    EXPECT_EQ(Permissions(thumbnails / "normal"), 0700);
    EXPECT_EQ(Permissions(cache.EntryPath(picture).toStdString()), 0600);
    // Nothing but the entry: no temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(thumbnails / "normal"), {}), 1);
    const QImage entry(cache.EntryPath(picture));
    EXPECT_EQ(entry.text("Thumb::URI"), "file:///nowhere/cat.jpg");
    EXPECT_EQ(entry.text("Thumb::MTime"), "1700000000");

    EXPECT_EQ(cache.Load(picture, 1700000000, 4321).size(), QSize(128, 96));
    EXPECT_TRUE(cache.Load(picture, 1700000001, 4321).isNull());
    EXPECT_TRUE(cache.Load(picture, 1700000000, 4322).isNull());
    EXPECT_TRUE(cache.Load("/nowhere/dog.jpg", 1700000000, 4321).isNull());
}

TEST_F(GalleryTest, LoaderDecodesOnceAndReadsTheCacheAfterwardsUntilAPictureChanges) {
    // Every format Qt's plugins read, a wide one and a tall one, and a file that is no picture.
    const std::map<std::string, QSize> pictures = {{"wide.jpg", QSize(800, 200)},
                                                   {"tall.png", QSize(100, 400)},
                                                   {"small.webp", QSize(40, 30)},
                                                   {"scan.tiff", QSize(300, 300)}};
    QStringList paths;
    for (const auto& [name, size] : pictures) {
        SavePicture(Picture("alt.test", name), size);
        paths.push_back(QString::fromStdString(Picture("alt.test", name).string()));
    }
    test::WriteFile(Picture("alt.test", "notes.txt"), "not a picture");
    paths.push_back(QString::fromStdString(Picture("alt.test", "notes.txt").string()));

    const auto load = [&paths](std::map<QString, QSize>& sizes) {
        CThumbnailLoader loader{CThumbnailCache()};
        QObject::connect(&loader, &CThumbnailLoader::thumbnailReady, &loader,
                         [&sizes](const QString& path, const QImage& image) {
                             EXPECT_TRUE(QThread::currentThread() == qApp->thread());
                             sizes[path] = image.size();
                         });
        for (const QString& path : paths) {
            loader.Request(path);
        }
        EXPECT_TRUE(loader.WaitForDone(30000));
        EXPECT_TRUE(test::WaitUntil([&] { return sizes.size() == 5; }));
        return std::pair(loader.Decoded(), loader.CacheHits());
    };
    std::map<QString, QSize> sizes;
    EXPECT_EQ(load(sizes), std::pair(5, 0));
    // In the order of their names; the small one is never enlarged.
    EXPECT_EQ(sizes[paths[0]], QSize(128, 128));
    EXPECT_EQ(sizes[paths[1]], QSize(40, 30));
    EXPECT_EQ(sizes[paths[2]], QSize(32, 128));
    EXPECT_EQ(sizes[paths[3]], QSize(128, 32));
    EXPECT_TRUE(sizes[paths[4]].isEmpty());  // no picture: no thumbnail, and no entry

    // A second opening decodes nothing but the file that is no picture.
    sizes.clear();
    EXPECT_EQ(load(sizes), std::pair(1, 4));
    // A picture written again (a new modification time) is made anew.
    SavePicture(Picture("alt.test", "wide.jpg"), QSize(800, 200), std::time(nullptr) + 60);
    sizes.clear();
    EXPECT_EQ(load(sizes), std::pair(2, 3));
}

TEST_F(GalleryTest, ModelCountsGroupsAndListsNewestFirstWhateverTheNames) {
    const std::time_t now = std::time(nullptr);
    // One lies in a folder inside the group, as an archive's pictures do.
    const char* const names[] = {"a b.jpg",       "\xc3\xbc\xe6\x97\xa5.png", "#1 100%.jpg",
                                 "q\"'<&>.png",   "set 1/inside.png",         "new\nline.png",
                                 "back\\sl*?.bmp"};
    std::vector<std::string> newestFirst;
    for (std::size_t i = 0; i < std::size(names); ++i) {
        SavePicture(Picture("alt.odd", names[i]), QSize(8, 8), now - 100 + static_cast<int>(i));
        newestFirst.insert(newestFirst.begin(), Picture("alt.odd", names[i]).string());
    }
    SavePicture(Picture("alt.plain", "old.jpg"), QSize(8, 8), now - 1000);
    fs::create_directories(folder.Path() / "images" / "alt.empty");
    // Hidden: a picture still being written, and whatever else hides.
    test::WriteFile(Picture("alt.odd", ".zarvo-12-3.part"), "half a picture");
    for (const char* hidden : {".hidden.png", ".thumbs/a.png"}) {
        SavePicture(Picture("alt.odd", hidden), QSize(8, 8), now);
    }
    SavePicture(folder.Path() / "images" / ".hidden" / "a.png", QSize(8, 8), now);

    CThumbnailLoader loader{CThumbnailCache()};
    CGalleryModel model(Images(), loader);
    EXPECT_EQ(model.Total(), 8);
    EXPECT_EQ(model.Groups(),
              (std::vector<std::pair<QString, int>>{{"alt.odd", 7}, {"alt.plain", 1}}));
    std::vector<std::string> rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        rows.push_back(model.PathAt(row).toStdString());
        EXPECT_EQ(model.RowOf(model.PathAt(row)), row);
    }
    newestFirst.push_back(Picture("alt.plain", "old.jpg").string());
    EXPECT_EQ(rows, newestFirst);
    const QModelIndex first = model.index(0);
    EXPECT_EQ(
        model.data(first, Qt::DisplayRole).toString().toStdString(),
        "back\\sl*?.bmp\n" + CGalleryModel::SizeText(fs::file_size(newestFirst[0])).toStdString());

    model.SetGroup("alt.plain");
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(model.PathAt(0).toStdString(), newestFirst.back());

    const struct {
        qint64 bytes;
        const char* text;
    } sizes[] = {{0, "0 bytes"},
                 {1023, "1023 bytes"},
                 {1024, "1 KB"},
                 {100 * 1024 + 600, "101 KB"},
                 {5 * 1024 * 1024 / 2, "2.5 MB"}};
    for (const auto& c : sizes) {
        EXPECT_EQ(CGalleryModel::SizeText(c.bytes).toStdString(), c.text);
    }
}

TEST_F(GalleryTest, ModelFollowsFilesThatComeAndGoAndTilesWhatIsNoPicture) {
    SavePicture(Picture("alt.test", "first.png"), QSize(8, 8), std::time(nullptr) - 60);
    CThumbnailLoader loader{CThumbnailCache()};
    CGalleryModel model(Images(), loader);
    ASSERT_EQ(model.rowCount(), 1);

    // A new picture comes first; a new group's folder is watched too; what is no picture
    // gets the plain tile.
    SavePicture(Picture("alt.test", "second.png"), QSize(8, 8));
    EXPECT_TRUE(test::WaitUntil([&] { return model.rowCount() == 2; }));
    EXPECT_EQ(model.RowOf(QString::fromStdString(Picture("alt.test", "second.png").string())), 0);
    fs::create_directories(folder.Path() / "images" / "alt.new");
    test::WriteFile(Picture("alt.new", "broken.jpg"), "JFIF, and then nothing");
    EXPECT_TRUE(test::WaitUntil([&] { return model.Total() == 3; }));
    EXPECT_EQ(model.Groups().size(), 2u);
    const int broken =
        model.RowOf(QString::fromStdString(Picture("alt.new", "broken.jpg").string()));
    ASSERT_GE(broken, 0);
    model.data(model.index(broken), Qt::DecorationRole);  // as a view asks
    EXPECT_TRUE(test::WaitUntil(
        [&] { return !model.data(model.index(broken), CGalleryModel::ReadableRole).toBool(); }));
    EXPECT_FALSE(model.data(model.index(broken), Qt::DecorationRole).value<QPixmap>().isNull());

    // A picture written anew under its name is read again once its thumbnail is made.
    const QString second = QString::fromStdString(Picture("alt.test", "second.png").string());
    SavePicture(second.toStdString(), QSize(300, 200), std::time(nullptr) + 30);
    const auto size = static_cast<qint64>(fs::file_size(second.toStdString()));
    const auto shownSize = [&] {
        const QModelIndex row = model.index(model.RowOf(second));
        model.data(row, Qt::DecorationRole);  // as a view asks
        return model.data(row, CGalleryModel::FileSizeRole).toLongLong();
    };
    EXPECT_TRUE(test::WaitUntil([&] { return shownSize() == size; }));

    // Told of a picture by the run, and one removed behind its back.
    SavePicture(Picture("alt.test", "told.png"), QSize(8, 8), std::time(nullptr) + 60);
    model.NotePicture(QString::fromStdString(Picture("alt.test", "told.png").string()));
    fs::remove(Picture("alt.test", "first.png"));
    const QString told = QString::fromStdString(Picture("alt.test", "told.png").string());
    const QString first = QString::fromStdString(Picture("alt.test", "first.png").string());
    EXPECT_TRUE(test::WaitUntil([&] { return model.RowOf(told) == 0 && model.RowOf(first) < 0; }));
    EXPECT_EQ(model.Total(), 3);

    // A folder inside a group (an archive's pictures) that comes meanwhile is followed too,
    // without the pictures still being written, and goes with what it holds.
    SavePicture(Picture("alt.test", "set/a.png"), QSize(8, 8));
    EXPECT_TRUE(test::WaitUntil([&] { return model.Total() == 4; }));
    SavePicture(Picture("alt.test", "set/b.png"), QSize(8, 8));
    test::WriteFile(Picture("alt.test", "set/.zarvo-1-1.part"), "half a picture");
    EXPECT_TRUE(test::WaitUntil([&] { return model.Total() == 5; }));
    test::RunEventsFor(std::chrono::milliseconds{300});
    EXPECT_EQ(model.Groups(),
              (std::vector<std::pair<QString, int>>{{"alt.new", 1}, {"alt.test", 4}}));
    fs::remove_all(folder.Path() / "images" / "alt.test" / "set");
    EXPECT_TRUE(test::WaitUntil([&] { return model.Total() == 3; }));

    fs::remove_all(folder.Path() / "images" / "alt.new");
    EXPECT_TRUE(test::WaitUntil([&] { return model.Groups().size() == 1; }));
}

TEST_F(GalleryTest, OnlyTheRowsOnScreenAskForThumbnails) {
    for (int i = 0; i < 300; ++i) {
        SavePicture(Picture("alt.many", std::to_string(i) + ".png"), QSize(8, 8));
    }
    CGalleryWindow gallery(Images());
    gallery.resize(700, 500);
    gallery.show();
    ASSERT_EQ(gallery.Model().rowCount(), 300);
    EXPECT_TRUE(test::WaitUntil([&] { return gallery.Model().HasThumbnail(0); }));
    test::RunEventsFor(std::chrono::milliseconds{200});
    EXPECT_TRUE(gallery.Loader().WaitForDone(30000));
    EXPECT_GT(gallery.Loader().Decoded(), 0);
    EXPECT_LT(gallery.Loader().Decoded(), 60);
    // Scrolled to the end, the last rows ask for theirs.
    gallery.View().scrollToBottom();
    EXPECT_TRUE(test::WaitUntil([&] { return gallery.Model().HasThumbnail(299); }));
}

TEST_F(GalleryTest, CtrlGOpensTheGalleryAndItsViewerStepsThroughItsOrder) {
    CZarvoDlg dialog;
    SavePicture(Picture("alt.test", "set/one.png"), QSize(900, 700), std::time(nullptr) - 20);
    SavePicture(Picture("alt.test", "two.png"), QSize(30, 20), std::time(nullptr) - 10);
    QTest::keyClick(&dialog, Qt::Key_G, Qt::ControlModifier);
    CGalleryWindow* gallery = dialog.Gallery();
    ASSERT_NE(gallery, nullptr);
    EXPECT_TRUE(gallery->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_THAT(gallery->GroupList().item(1)->text().toStdString(), "alt.test (2)");

    QListView& view = gallery->View();
    view.setCurrentIndex(gallery->Model().index(0));
    QTest::keyClick(&view, Qt::Key_Return);
    CPictureWindow* viewer = gallery->Viewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->windowTitle(), "two.png");
    for (const auto& [key, title] :
         {std::pair(Qt::Key_Right, "one.png"), std::pair(Qt::Key_Right, "one.png"),  // no wrapping
          std::pair(Qt::Key_Left, "two.png"), std::pair(Qt::Key_Right, "one.png")}) {
        QTest::keyClick(viewer, key);
        EXPECT_EQ(viewer->windowTitle().toStdString(), title);
    }
    EXPECT_EQ(viewer->CurrentZoom(), CPictureWindow::Zoom::FitLarger);
    EXPECT_LT(viewer->Scale(), 1);
    QTest::keyClick(viewer, Qt::Key_1);
    EXPECT_EQ(viewer->Scale(), 1);

    // Copy: the picture and its address; Open folder: the picture's folder.
    view.selectionModel()->select(view.currentIndex(), QItemSelectionModel::Select);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->urls().value(0).toLocalFile().toStdString(),
              Picture("alt.test", "set/one.png").string());
    EXPECT_EQ(qvariant_cast<QImage>(copied->imageData()).size(), QSize(900, 700));
    QUrl opened;
    gallery->SetUrlOpener([&opened](const QUrl& url) {
        opened = url;
        return true;
    });
    gallery->OpenFolder();
    EXPECT_EQ(opened.toLocalFile().toStdString(),
              (folder.Path() / "images" / "alt.test" / "set").string());
    EXPECT_TRUE(gallery->Note().text().isEmpty());
    // No file manager answers: the gallery says so, and where the folder is.
    gallery->SetUrlOpener([](const QUrl&) { return false; });
    gallery->OpenFolder();
    EXPECT_EQ(gallery->Note().text().toStdString(),
              "No file manager could show the folder " +
                  (folder.Path() / "images" / "alt.test" / "set").string());
    EXPECT_TRUE(gallery->Note().isVisible());

    QTest::keyClick(viewer, Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(gallery->Viewer(), nullptr);
    dialog.OnExit();
}

TEST_F(GalleryTest, DeleteMovesTheSelectedPicturesToTheTrashAndTheRunsListDropsThem) {
    CZarvoDlg dialog;
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        paths.push_back(Picture("alt.test", "p" + std::to_string(i) + ".png").string());
        SavePicture(paths.back(), QSize(8, 8), std::time(nullptr) - 100 + i);
        dialog.AppendPicture(paths.back());
    }
    g_currentPicture = 3;
    dialog.OnGallery();
    CGalleryWindow& gallery = *dialog.Gallery();
    ASSERT_EQ(gallery.Model().rowCount(), 4);  // newest first: p3 p2 p1 p0
    QListView& view = gallery.View();
    for (const int row : {0, 2}) {
        view.selectionModel()->select(gallery.Model().index(row), QItemSelectionModel::Select);
    }
    QTest::keyClick(&view, Qt::Key_Delete);

    EXPECT_THAT(boxes.Texts(), IsEmpty());
    for (const char* name : {"p3.png", "p1.png"}) {
        EXPECT_FALSE(fs::exists(Picture("alt.test", name))) << name;
        // The trash lies under the tests' own data home.
        const fs::path trash = fs::path(qgetenv("XDG_DATA_HOME").toStdString()) / "Trash" / "files";
        bool found = false;
        for (const auto& entry : fs::directory_iterator(trash)) {
            found = found || entry.path().filename().string().starts_with(name);
        }
        EXPECT_TRUE(found) << name;
    }
    EXPECT_EQ(gallery.Model().rowCount(), 2);
    EXPECT_EQ(gallery.GroupList().item(1)->text().toStdString(), "alt.test (2)");
    EXPECT_THAT(dialog.PictureBrowser().Pictures(), ElementsAre(paths[0], paths[2]));
    // p3 was on show: the new last entry takes its place.
    EXPECT_EQ(g_currentPicture, 1);
    EXPECT_EQ(test::EditText(dialog, 1024), "2 / 2");
    dialog.OnExit();
}

TEST_F(GalleryTest, EveryCellHasItsCaptionAtTheSamePlaceWhateverTheThumbnailsShape) {
    const std::time_t now = std::time(nullptr);
    SavePicture(Picture("alt.test", "wide.png"), QSize(400, 100), now - 3);
    SavePicture(Picture("alt.test", "tall.png"), QSize(100, 400), now - 2);
    SavePicture(Picture("alt.test", std::string(80, 'n') + ".png"), QSize(200, 200), now - 1);
    CGalleryWindow gallery(Images());

    // Within one cell: the thumbnail inside its square box and centred in it, the two caption
    // lines under the box at one place.
    const CThumbnailDelegate& delegate = gallery.Delegate();
    const QRect cell(QPoint(30, 200), delegate.CellSize());
    const int side = gallery.Loader().Cache().Pixels();
    const CThumbnailDelegate::Geometry square = delegate.Layout(cell, QSize(side, side));
    for (const QSize thumbnail : {QSize(side, side * 3 / 4), QSize(side * 3 / 4, side),
                                  QSize(side / 4, side / 8), QSize(2 * side, side / 2)}) {
        const CThumbnailDelegate::Geometry geometry = delegate.Layout(cell, thumbnail);
        EXPECT_EQ(geometry.name, square.name) << thumbnail.width() << "x" << thumbnail.height();
        EXPECT_EQ(geometry.size, square.size);
        EXPECT_TRUE(square.picture.contains(geometry.picture));
        EXPECT_LE(std::abs(geometry.picture.center().x() - square.picture.center().x()), 1);
        EXPECT_LE(std::abs(geometry.picture.center().y() - square.picture.center().y()), 1);
    }
    EXPECT_LT(square.picture.bottom(), square.name.top());
    EXPECT_LT(square.name.bottom(), square.size.top());
    EXPECT_TRUE(cell.contains(square.size));

    // As drawn: wide, tall and square pictures, one with a long name, side by side in cells
    // of one size, each caption drawn where it belongs.
    gallery.resize(900, 600);
    gallery.show();
    QListView& view = gallery.View();
    ASSERT_EQ(gallery.Model().rowCount(), 3);
    EXPECT_TRUE(test::WaitUntil([&] {
        return gallery.Model().HasThumbnail(0) && gallery.Model().HasThumbnail(1) &&
               gallery.Model().HasThumbnail(2);
    }));
    test::RunEventsFor(std::chrono::milliseconds{100});
    const QImage shot = view.viewport()->grab().toImage();
    const auto inked = [&shot](const QRect& line) {
        int count = 0;
        const QRgb background = shot.pixel(line.topLeft());
        for (int y = line.top(); y <= line.bottom(); ++y) {
            for (int x = line.left(); x <= line.right(); ++x) {
                count += shot.pixel(x, y) != background ? 1 : 0;
            }
        }
        return count;
    };
    const QRect first = view.visualRect(gallery.Model().index(0));
    for (int row = 0; row < 3; ++row) {
        const QModelIndex index = gallery.Model().index(row);
        const QRect rect = view.visualRect(index);
        EXPECT_EQ(rect.size(), delegate.CellSize()) << row;
        EXPECT_EQ(rect.top(), first.top()) << row;
        const QSize thumbnail = index.data(Qt::DecorationRole).value<QPixmap>().size();
        const CThumbnailDelegate::Geometry geometry = delegate.Layout(rect, thumbnail);
        EXPECT_EQ(geometry.name.top(), delegate.Layout(first, thumbnail).name.top()) << row;
        ASSERT_TRUE(view.viewport()->rect().contains(geometry.size)) << row;
        EXPECT_GT(inked(geometry.name), 0) << row;
        EXPECT_GT(inked(geometry.size), 0) << row;
    }
    EXPECT_EQ(gallery.Model().index(1).data(Qt::DecorationRole).value<QPixmap>().size(),
              QSize(side / 4, side));  // the tall one
}

TEST_F(GalleryTest, DeleteInTheViewerShowsThePictureThatTookItsPlaceAndClosesWithNoneLeft) {
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < 3; ++i) {  // newest first: p2 p1 p0
        SavePicture(Picture("alt.test", "p" + std::to_string(i) + ".png"), QSize(60, 40),
                    now - 100 + i);
    }
    CGalleryWindow gallery(Images());
    QStringList deleted;
    QObject::connect(&gallery, &CGalleryWindow::picturesDeleted,
                     [&deleted](const QStringList& paths) { deleted += paths; });
    gallery.OpenPicture(1);
    const QPointer<CPictureWindow> viewer = gallery.Viewer();
    ASSERT_FALSE(viewer.isNull());
    // p1 goes and p0 takes its place; p0 was the last, so p2 before it is shown.
    for (const auto& [shown, row] : {std::pair("p0.png", 1), std::pair("p2.png", 0)}) {
        QTest::keyClick(viewer.data(), Qt::Key_Delete);
        EXPECT_EQ(viewer->windowTitle().toStdString(), shown);
        EXPECT_EQ(gallery.View().currentIndex().row(), row);
    }
    QTest::keyClick(viewer.data(), Qt::Key_Delete);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(viewer.isNull());
    EXPECT_EQ(gallery.Model().rowCount(), 0);
    ASSERT_EQ(deleted.size(), 3);
    for (const QString& path : deleted) {
        EXPECT_FALSE(fs::exists(path.toStdString()));
    }
    EXPECT_THAT(boxes.Texts(), IsEmpty());
}

}  // namespace
