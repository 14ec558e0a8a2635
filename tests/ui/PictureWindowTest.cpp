// The picture window: where it opens and how large, and its keys, wheel and dragging between
// the zoom states: fitted, at 100% centred on the picture's middle, zoomed about a point, panned.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QWheelEvent>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/CPictureWindow.h"

namespace {

using Zoom = CPictureWindow::Zoom;

QImage Picture(QSize size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    return picture;
}

void Wheel(CPictureWindow& window, int delta, Qt::KeyboardModifiers modifiers, QPointF at) {
    QWheelEvent wheel(at, window.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window.viewport(), &wheel);
}

void Mouse(CPictureWindow& window, QEvent::Type type, QPoint at) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, window.viewport()->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(window.viewport(), &event);
}

TEST(PictureWindowTest, OpensCentredOnTheScreenNoLargerThanItsFreeRoom) {
    QWidget owner;
    const QRect room = owner.screen()->availableGeometry();
    for (const QSize size : {QSize(300, 200), room.size() * 3}) {
        const auto window = std::make_unique<CPictureWindow>(Picture(size), "p.png", &owner);
        const QRect placed = window->geometry();
        EXPECT_TRUE(room.contains(placed)) << size.width();
        EXPECT_LE((placed.center() - room.center()).manhattanLength(), 2) << size.width();
        if (size.width() < room.width() / 2) {
            const int frame = 2 * window->frameWidth();
            EXPECT_EQ(placed.size(), size + QSize(frame, frame));
        }
    }
}

TEST(PictureWindowTest, KeysWheelAndDraggingMoveBetweenTheZoomStates) {
    QWidget owner;
    const QPointer<CPictureWindow> window(
        std::make_unique<CPictureWindow>(Picture(QSize(900, 700)), "big.png", &owner).release());
    std::vector<std::string> asked;
    QObject::connect(window.data(), &CPictureWindow::stepRequested,
                     [&asked](int step) { asked.push_back(step < 0 ? "previous" : "next"); });
    QObject::connect(window.data(), &CPictureWindow::deleteRequested,
                     [&asked] { asked.push_back("delete"); });
    window->SetStepping(true);
    window->resize(400, 300);
    window->show();
    EXPECT_EQ(window->CurrentZoom(), Zoom::Fixed);
    EXPECT_EQ(window->Scale(), 1);

    constexpr double FITTED = 0;
    const QPointF pointer(100, 80);
    // At 100% the picture is larger than the window: both scroll bars stay.
    const QPointF middle = QRectF(window->viewport()->rect()).center();
    const auto key = [](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        return [key, modifiers](CPictureWindow& w) { QTest::keyClick(&w, key, modifiers); };
    };
    const struct {
        const char* what;
        std::function<void(CPictureWindow&)> act;
        Zoom zoom;
        double scale;                   // FITTED: as large as the window allows
        bool centred;                   // the picture's middle in the window's middle
        std::optional<QPointF> anchor;  // the picture's point there stays there
        std::optional<QPointF> shift;   // the picture moved so
        const char* asked;
    } cases[] = {
        {"F fits", key(Qt::Key_F), Zoom::Fit, FITTED, true, {}, {}, nullptr},
        {"1 shows 100%", key(Qt::Key_1), Zoom::Fixed, 1, true, {}, {}, nullptr},
        {"Ctrl and the wheel zoom in about the pointer",
         [&](CPictureWindow& w) { Wheel(w, 120, Qt::ControlModifier, pointer); },
         Zoom::Fixed,
         1.25,
         false,
         pointer,
         {},
         nullptr},
        {"and out",
         [&](CPictureWindow& w) { Wheel(w, -120, Qt::ControlModifier, pointer); },
         Zoom::Fixed,
         1,
         false,
         pointer,
         {},
         nullptr},
        {"- zooms out about the middle",
         key(Qt::Key_Minus),
         Zoom::Fixed,
         0.8,
         false,
         middle,
         {},
         nullptr},
        {"+ (with Shift) zooms in",
         key(Qt::Key_Plus, Qt::ShiftModifier),
         Zoom::Fixed,
         1,
         false,
         middle,
         {},
         nullptr},
        // Three lines of 24 pixels a notch.
        {"the wheel alone scrolls",
         [&](CPictureWindow& w) { Wheel(w, -120, {}, pointer); },
         Zoom::Fixed,
         1,
         false,
         {},
         QPointF(0, -72),
         nullptr},
        {"dragging pans",
         [](CPictureWindow& w) {
             Mouse(w, QEvent::MouseButtonPress, QPoint(200, 150));
             Mouse(w, QEvent::MouseMove, QPoint(180, 140));
             Mouse(w, QEvent::MouseMove, QPoint(150, 120));
             Mouse(w, QEvent::MouseButtonRelease, QPoint(150, 120));
         },
         Zoom::Fixed,
         1,
         false,
         {},
         QPointF(-50, -30),
         nullptr},
        {"F enlarges a small picture",
         [](CPictureWindow& w) {
             w.ShowPicture(Picture(QSize(30, 20)), "small.png");
             QTest::keyClick(&w, Qt::Key_F);
         },
         Zoom::Fit,
         FITTED,
         true,
         {},
         {},
         nullptr},
        {"fitting only the larger leaves it at 100%",
         [](CPictureWindow& w) { w.SetZoom(Zoom::FitLarger); },
         Zoom::FitLarger,
         1,
         true,
         {},
         {},
         nullptr},
        {"Right asks for the next", key(Qt::Key_Right), Zoom::FitLarger, 1, true, {}, {}, "next"},
        {"Left for the previous", key(Qt::Key_Left), Zoom::FitLarger, 1, true, {}, {}, "previous"},
        {"Delete for the picture to go",
         key(Qt::Key_Delete),
         Zoom::FitLarger,
         1,
         true,
         {},
         {},
         "delete"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QRectF before = window->PictureRect();
        const double scaleBefore = window->Scale();
        const std::size_t askedBefore = asked.size();
        c.act(*window);
        const QRectF after = window->PictureRect();
        const QRectF room(window->viewport()->rect());
        EXPECT_EQ(window->CurrentZoom(), c.zoom);
        if (c.scale == FITTED) {
            EXPECT_TRUE(room.adjusted(-0.5, -0.5, 0.5, 0.5).contains(after));
            EXPECT_TRUE(std::abs(after.width() - room.width()) < 1 ||
                        std::abs(after.height() - room.height()) < 1);
        } else {
            EXPECT_NEAR(window->Scale(), c.scale, 1e-9);
        }
        if (c.centred) {
            EXPECT_LE(QLineF(after.center(), room.center()).length(), 1);
        }
        if (c.anchor) {
            const QPointF point = (*c.anchor - before.topLeft()) / scaleBefore;
            EXPECT_LE(QLineF(after.topLeft() + point * window->Scale(), *c.anchor).length(), 1);
        }
        if (c.shift) {
            EXPECT_EQ(after.topLeft() - before.topLeft(), *c.shift);
        }
        EXPECT_EQ(asked.size(), askedBefore + (c.asked != nullptr ? 1 : 0));
        if (c.asked != nullptr && !asked.empty()) {
            EXPECT_EQ(asked.back(), c.asked);
        }
    }

    QTest::keyClick(window.data(), Qt::Key_Escape);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull());
}

}  // namespace
