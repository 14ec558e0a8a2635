// gallerybench: the gallery over a large collection. Makes `count` JPEG pictures of about
// 100 KB in a temporary folder (a few dozen different pictures, each under many names, as
// hard links: every name is decoded and thumbnailed on its own, as the cache keys on names),
// then measures on Qt's offscreen platform:
//   - the first, cold pass: thumbnails made per second by the gallery's loader on two threads,
//     beside plain QImageReader decoding of the same files on two threads;
//   - the gallery opened with a warm cache: seconds until its first screen of thumbnails is
//     drawn;
//   - scrolling a page every 16 ms while thumbnails load (cold cache): the longest time the
//     window's thread spent on one step, and the 99th percentile.
// Removes everything it made, the thumbnail cache included (it never touches the user's).
//
// Usage: gallerybench [count [baseline-sample]]   (defaults 20000 and 2000). Build without
// sanitizers, with -DCMAKE_BUILD_TYPE=Release, for figures.

#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QScrollBar>
#include <QThreadPool>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ui/CGalleryWindow.h"

namespace {

namespace fs = std::filesystem;

constexpr int DISTINCT_PICTURES = 48;
constexpr int GROUPS = 10;
constexpr qint64 TARGET_BYTES = 100 * 1024;

// The temporary folder, removed with everything in it when the bench ends.
class Scratch {
public:
    Scratch() {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string pattern = std::string(base) + "/zarvo-gallerybench-XXXXXX";
            if (::mkdtemp(pattern.data()) != nullptr) {
                m_path = pattern;
                return;
            }
        }
    }
    ~Scratch() {
        std::error_code ignored;
        if (!m_path.empty()) {
            fs::remove_all(m_path, ignored);
        }
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// A photograph-like picture: smooth waves with some grain, 1280 by 960, stored as a JPEG of
// about 100 KB (the quality is searched for).
bool MakeSourcePicture(const QString& path, int seed) {
    QImage image(1280, 960, QImage::Format_RGB32);
    std::uint32_t noise = 2463534242u + static_cast<std::uint32_t>(seed) * 7919u;
    const double a = 0.004 + 0.001 * (seed % 7);
    const double b = 0.006 + 0.0007 * (seed % 5);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            noise ^= noise << 13;
            noise ^= noise >> 17;
            noise ^= noise << 5;
            const int grain = static_cast<int>(noise % 25) - 12;
            const auto channel = [grain](double value) {
                return std::clamp(static_cast<int>(127 + 110 * value) + grain, 0, 255);
            };
            line[x] = qRgb(channel(std::sin(x * a + seed)), channel(std::cos(y * b - seed)),
                           channel(std::sin((x + y) * a * 0.7)));
        }
    }
    int low = 5;
    int high = 95;
    while (low < high) {
        const int quality = (low + high + 1) / 2;
        QImageWriter writer(path, "jpeg");
        writer.setQuality(quality);
        if (!writer.write(image)) {
            return false;
        }
        if (QFileInfo(path).size() > TARGET_BYTES) {
            high = quality - 1;
        } else {
            low = quality;
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(low);
    return writer.write(image);
}

QStringList MakeCollection(const fs::path& root, int count) {
    const fs::path sources = root / "sources";
    fs::create_directories(sources);
    for (int i = 0; i < DISTINCT_PICTURES; ++i) {
        if (!MakeSourcePicture(
                QString::fromStdString((sources / (std::to_string(i) + ".jpg")).string()), i)) {
            std::fprintf(stderr, "gallerybench: cannot write the pictures\n");
            return {};
        }
    }
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const fs::path group =
            root / "images" / ("alt.binaries.pictures.bench" + std::to_string(i % GROUPS));
        fs::create_directories(group);
        const fs::path path = group / ("picture-" + std::to_string(i) + ".jpg");
        fs::create_hard_link(sources / (std::to_string(i % DISTINCT_PICTURES) + ".jpg"), path);
        paths.push_back(QString::fromStdString(path.string()));
    }
    return paths;
}

// Plain decoding of the files on two threads, as a reader that makes no thumbnails would: the
// pictures per second.
double PlainDecodeRate(const QStringList& paths, bool scaled) {
    std::atomic<int> next{0};
    QElapsedTimer timer;
    timer.start();
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = next++; i < paths.size(); i = next++) {
                QImageReader reader(paths[i]);
                if (scaled) {
                    reader.setScaledSize(reader.size().scaled(128, 128, Qt::KeepAspectRatio));
                }
                if (reader.read().isNull()) {
                    std::fprintf(stderr, "gallerybench: cannot read %s\n", qPrintable(paths[i]));
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return paths.size() / (timer.nsecsElapsed() / 1e9);
}

double ColdThumbnailRate(const QStringList& paths) {
    CThumbnailLoader loader{CThumbnailCache(), 2};
    int answered = 0;
    QObject::connect(&loader, &CThumbnailLoader::thumbnailReady, &loader,
                     [&answered](const QString&, const QImage&) { ++answered; });
    QElapsedTimer timer;
    timer.start();
    for (const QString& path : paths) {
        loader.Request(path);
    }
    while (!loader.WaitForDone(20)) {
        QApplication::processEvents();
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    QApplication::processEvents();
    if (loader.Decoded() != paths.size()) {
        std::fprintf(stderr, "gallerybench: %d decoded of %d\n", loader.Decoded(),
                     static_cast<int>(paths.size()));
    }
    return paths.size() / seconds;
}

bool FirstScreenDrawn(CGalleryWindow& gallery) {
    QListView& view = gallery.View();
    const QModelIndex first = view.indexAt(QPoint(10, 10));
    if (!first.isValid()) {
        return false;
    }
    for (int row = first.row(); row < gallery.Model().rowCount(); ++row) {
        if (!view.visualRect(gallery.Model().index(row)).intersects(view.viewport()->rect())) {
            break;
        }
        if (!gallery.Model().HasThumbnail(row)) {
            return false;
        }
    }
    return true;
}

double WarmOpenSeconds(const QString& images) {
    QElapsedTimer timer;
    timer.start();
    CGalleryWindow gallery(images);
    gallery.show();
    while (!FirstScreenDrawn(gallery)) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    gallery.repaint();
    return timer.nsecsElapsed() / 1e9;
}

// Scrolls one page every 16 ms while thumbnails load; the steps' times on the window's thread,
// in milliseconds, in order.
std::vector<double> ScrollSteps(const QString& images, int steps) {
    CGalleryWindow gallery(images);
    gallery.show();
    QApplication::processEvents();
    QScrollBar* bar = gallery.View().verticalScrollBar();
    std::vector<double> times;
    for (int step = 0; step < steps && bar->value() < bar->maximum(); ++step) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(bar->value() + bar->pageStep());
        QApplication::processEvents();
        gallery.View().viewport()->repaint();
        times.push_back(timer.nsecsElapsed() / 1e6);
        const auto rest = std::chrono::microseconds(16000) -
                          std::chrono::microseconds(static_cast<long>(times.back() * 1000));
        if (rest.count() > 0) {
            std::this_thread::sleep_for(rest);
        }
    }
    return times;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const int sample = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const Scratch scratch;
    if (scratch.Path().empty()) {
        std::perror("gallerybench: mkdtemp");
        return 1;
    }
    // The bench's own thumbnail cache, never the user's.
    qputenv("XDG_CACHE_HOME", (scratch.Path() / "cache").string().c_str());
    QApplication application(argc, argv);

    const QStringList paths = MakeCollection(scratch.Path(), count);
    if (paths.isEmpty()) {
        return 1;
    }
    const QString images = QString::fromStdString((scratch.Path() / "images").string());
    std::printf("%d pictures of %lld bytes in %s, %d threads\n", count,
                static_cast<long long>(fs::file_size(paths.front().toStdString())),
                scratch.Path().c_str(), 2);

    const QStringList baseline = paths.mid(0, sample);
    const double plain = PlainDecodeRate(baseline, false);
    const double plainScaled = PlainDecodeRate(baseline, true);
    const double cold = ColdThumbnailRate(paths);
    std::printf(
        "cold pass: %.0f thumbnails/s; QImageReader on 2 threads: %.0f/s full size, "
        "%.0f/s at thumbnail size (first %d files)\n",
        cold, plain, plainScaled, static_cast<int>(baseline.size()));
    std::printf("cold pass / full-size decoding: %.2f; / thumbnail-size decoding: %.2f\n",
                cold / plain, cold / plainScaled);

    std::printf("warm cache, open to first screen: %.3f s\n", WarmOpenSeconds(images));
    std::printf("warm cache, open to first screen (again): %.3f s\n", WarmOpenSeconds(images));

    // Thumbnails load while scrolling: a cache of its own, empty.
    qputenv("XDG_CACHE_HOME", (scratch.Path() / "cold-cache").string().c_str());
    std::vector<double> steps = ScrollSteps(images, 400);
    if (!steps.empty()) {
        const auto longest = std::max_element(steps.begin(), steps.end());
        std::printf("the longest step was step %d of %zu\n",
                    static_cast<int>(longest - steps.begin()) + 1, steps.size());
        std::sort(steps.begin(), steps.end());
        std::printf(
            "scrolling %zu pages, thumbnails loading: longest step %.1f ms, 99th "
            "percentile %.1f ms, median %.1f ms\n",
            steps.size(), steps.back(), steps[steps.size() * 99 / 100], steps[steps.size() / 2]);
    }
    return 0;
}
