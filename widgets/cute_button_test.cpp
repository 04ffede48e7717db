#include "widgets/cute_button.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "widgets/ui_font.h"

namespace goramina {
namespace {

using Bevel = TCuteButton::TBevelCut;

const QColor kFace(250, 220, 130);
const QColor kHighlight(255, 255, 255);
const QColor kShadow(96, 48, 0);
const QColor kInk(0, 0, 128);

// A shown window with one 60x20 button (the size of the main window's buttons) away from
// the window's edges, so the mouse can be moved off it.
class CuteButtonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = std::make_unique<QWidget>();
    form_->setFont(UiFont());
    form_->resize(240, 140);
    button_ = new TCuteButton(QString::fromUtf8("問題登録"), form_.get());
    button_->setGeometry(60, 40, 60, 20);
    button_->SetColor(kFace);
    button_->SetBevelHighlightColor(kHighlight);
    button_->SetBevelShadowColor(kShadow);
    button_->SetFontColor(kInk);
    other_ = new QWidget(form_.get());
    other_->setGeometry(0, 100, 20, 20);
    other_->setFocusPolicy(Qt::StrongFocus);
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
    other_->setFocus();
    QTest::mouseMove(form_.get(), QPoint(5, 5));
  }

  void TearDown() override { form_.reset(); }

  QPoint Inside() const { return QPoint(30, 10); }
  // A point of the form just below the button, in the button's coordinates.
  QPoint Outside() const { return QPoint(30, 40); }

  std::unique_ptr<QWidget> form_;
  TCuteButton* button_ = nullptr;
  QWidget* other_ = nullptr;
};

// Closes the first popup menu that appears and remembers where it stood.
class PopupCloser : public QObject {
 public:
  // `choose` picks the first item instead of just closing the menu.
  explicit PopupCloser(bool choose = false) : choose_(choose) {
    timer_.setInterval(5);
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
  }
  bool Seen() const { return position_.has_value(); }
  QPoint Position() const { return position_.value_or(QPoint(-1, -1)); }

 private:
  void Poll() {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu || !menu->isVisible()) return;
    timer_.stop();
    position_ = menu->pos();
    if (choose_) {
      QTest::keyClick(menu, Qt::Key_Down);
      QTest::keyClick(menu, Qt::Key_Return);
    } else {
      menu->close();
    }
  }
  bool choose_;
  QTimer timer_;
  std::optional<QPoint> position_;
};

// ---------------------------------------------------------------------------------------
// Properties

TEST(CuteButtonProperties, DefaultsAsCreated) {
  TCuteButton b;
  EXPECT_EQ(b.size(), QSize(75, 25));
  EXPECT_EQ(b.BevelOuter(), Bevel::None);
  EXPECT_EQ(b.BevelInner(), Bevel::Raised);
  EXPECT_EQ(b.BevelWidth(), 1);
  EXPECT_EQ(b.Alignment(), TCuteButton::TAlignment::Center);
  EXPECT_EQ(b.Layout(), TCuteButton::TTextLayout::Center);
  EXPECT_EQ(b.DisabledColor(), QColor(128, 128, 128));
  EXPECT_FALSE(b.UseDisabledColor());
  EXPECT_EQ(b.DropDownMenu(), nullptr);
  EXPECT_EQ(b.DropDownDelay(), 0);
  EXPECT_FALSE(b.EgnoreContClick());
  EXPECT_FALSE(b.Flat());
  EXPECT_EQ(b.MarginX(), -1);
  EXPECT_EQ(b.MarginY(), -1);
  EXPECT_FALSE(b.ShowFocusRect());
  EXPECT_TRUE(b.TabFocusUp());
  EXPECT_TRUE(b.TabStop());
  EXPECT_EQ(b.focusPolicy(), Qt::StrongFocus);
  b.SetTabStop(false);
  EXPECT_EQ(b.focusPolicy(), Qt::ClickFocus) << "out of the Tab order, still focusable by mouse";
}

TEST(CuteButtonProperties, MarginsBelowMinusOneAreStoredAsMinusOne) {
  struct Case {
    int set;
    int reads;
  };
  for (const Case c :
       {Case{-5, -1}, Case{-2, -1}, Case{INT_MIN, -1}, Case{-1, -1}, Case{0, 0}, Case{7, 7}}) {
    TCuteButton b;
    b.SetMarginX(c.set);
    b.SetMarginY(c.set);
    EXPECT_EQ(b.MarginX(), c.reads) << c.set;
    EXPECT_EQ(b.MarginY(), c.reads) << c.set;
  }
  TCuteButton b;
  b.SetBevelWidth(0);
  EXPECT_EQ(b.BevelWidth(), 1) << "a bevel is at least one pixel wide";
}

TEST(CuteButtonProperties, DropDownMenuIsForgottenWhenTheMenuIsDestroyed) {
  TCuteButton b;
  auto menu = std::make_unique<QMenu>();
  b.SetDropDownMenu(menu.get());
  EXPECT_EQ(b.DropDownMenu(), menu.get());
  menu.reset();
  EXPECT_EQ(b.DropDownMenu(), nullptr);
}

// ---------------------------------------------------------------------------------------
// Mouse

TEST_F(CuteButtonTest, HoverRaisesPressLowersReleaseInsideClicks) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  QSignalSpy enters(button_, &TCuteButton::OnMouseEnter);
  QSignalSpy leaves(button_, &TCuteButton::OnMouseLeave);

  QTest::mouseMove(button_, Inside());
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised);
  ASSERT_EQ(enters.count(), 1);
  EXPECT_EQ(enters[0][1].toPoint(), Inside()) << "client coordinates";

  QTest::mousePress(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(button_->BevelOuter(), Bevel::Lowered);
  EXPECT_TRUE(button_->hasFocus()) << "a press takes the focus";
  EXPECT_EQ(clicks.count(), 0) << "the click comes with the release";

  QTest::mouseRelease(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised);

  QTest::mouseMove(form_.get(), QPoint(5, 5));
  EXPECT_EQ(leaves.count(), 1);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised) << "still focused, TabFocusUp";
  other_->setFocus();
  EXPECT_EQ(button_->BevelOuter(), Bevel::None);
}

TEST_F(CuteButtonTest, PressMoveOutReleaseDoesNotClick) {
  // Without TabFocusUp the bevel falls flat; with it the focused button stays raised.
  for (const bool tabFocusUp : {false, true}) {
    SCOPED_TRACE(tabFocusUp ? "TabFocusUp" : "no TabFocusUp");
    other_->setFocus();
    button_->SetTabFocusUp(tabFocusUp);
    QSignalSpy clicks(button_, &TCuteButton::OnClick);
    QSignalSpy leaves(button_, &TCuteButton::OnMouseLeave);
    const Bevel resting = tabFocusUp ? Bevel::Raised : Bevel::None;

    QTest::mouseMove(button_, Inside());
    QTest::mousePress(button_, Qt::LeftButton, {}, Inside());
    QTest::mouseMove(button_, Outside());
    EXPECT_EQ(leaves.count(), 1) << "leaving while held is reported";
    EXPECT_EQ(button_->BevelOuter(), resting) << "dragged off, it no longer looks pressed";
    QTest::mouseRelease(button_, Qt::LeftButton, {}, Outside());

    EXPECT_EQ(clicks.count(), 0);
    EXPECT_EQ(button_->BevelOuter(), resting);
    EXPECT_EQ(leaves.count(), 1) << "one leave, not a second one after the release";
    QTest::mouseMove(form_.get(), QPoint(5, 5));
  }
}

TEST_F(CuteButtonTest, PressMoveOutAndBackInStillClicks) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  QTest::mousePress(button_, Qt::LeftButton, {}, Inside());
  QTest::mouseMove(button_, Outside());
  QTest::mouseMove(button_, Inside());
  EXPECT_EQ(button_->BevelOuter(), Bevel::Lowered) << "back over it with the button held";
  QTest::mouseRelease(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 1);
}

TEST_F(CuteButtonTest, OnlyTheLeftButtonClicksAndADisabledButtonNeverDoes) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  QTest::mouseClick(button_, Qt::RightButton, {}, Inside());
  QTest::mouseClick(button_, Qt::MiddleButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 0);

  button_->setEnabled(false);
  QTest::mouseMove(button_, Inside());
  EXPECT_EQ(button_->BevelOuter(), Bevel::None) << "a disabled button does not light up";
  QTest::mouseClick(button_, Qt::LeftButton, {}, Inside());
  QTest::keyClick(button_, Qt::Key_Return);
  button_->Click();
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(CuteButtonTest, DisablingWhilePressedEndsThePress) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  QTest::mousePress(button_, Qt::LeftButton, {}, Inside());
  button_->setEnabled(false);
  EXPECT_EQ(button_->BevelOuter(), Bevel::None);
  button_->setEnabled(true);
  QTest::mouseRelease(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 0) << "the press before disabling is gone";
}

// ---------------------------------------------------------------------------------------
// Keyboard

TEST_F(CuteButtonTest, SpaceClicksOnReleaseAndAnotherKeyCancels) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  button_->setFocus();
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised) << "focused, TabFocusUp";

  QTest::keyPress(button_, Qt::Key_Space);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Lowered);
  QTest::keyPress(button_, Qt::Key_Space, {}, -1);  // auto-repeat while held changes nothing
  QTest::keyRelease(button_, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised);

  QTest::keyPress(button_, Qt::Key_Space);
  QTest::keyClick(button_, Qt::Key_A);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised) << "the other key restored the bevel";
  QTest::keyRelease(button_, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 1) << "the cancelled Space press does not click";
}

TEST_F(CuteButtonTest, EnterAndTheAcceleratorClick) {
  button_->SetCaption(QString::fromUtf8("登録(&R)"));
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  button_->setFocus();
  QTest::keyClick(button_, Qt::Key_Return);
  QTest::keyClick(button_, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(clicks.count(), 2);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised);

  other_->setFocus();
  QTest::keyClick(other_, Qt::Key_R, Qt::AltModifier);
  EXPECT_EQ(clicks.count(), 3) << "the accelerator works without the focus";

  button_->SetCaption(QString::fromUtf8("登録"));
  QTest::keyClick(other_, Qt::Key_R, Qt::AltModifier);
  EXPECT_EQ(clicks.count(), 3) << "the old accelerator went with the old caption";
}

TEST_F(CuteButtonTest, AcceleratorOfADisabledOrHiddenButtonDoesNothing) {
  button_->SetCaption(QString::fromUtf8("削除(&D)"));
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  button_->setEnabled(false);
  QTest::keyClick(other_, Qt::Key_D, Qt::AltModifier);
  button_->setEnabled(true);
  button_->hide();
  QTest::keyClick(other_, Qt::Key_D, Qt::AltModifier);
  EXPECT_EQ(clicks.count(), 0);
  button_->show();
  QTest::keyClick(other_, Qt::Key_D, Qt::AltModifier);
  EXPECT_EQ(clicks.count(), 1);
}

// ---------------------------------------------------------------------------------------
// Clicks while the handler runs

TEST_F(CuteButtonTest, EgnoreContClickSwallowsClicksMadeWhileTheHandlerRuns) {
  struct Case {
    bool ignore;
    int expectedCalls;
  };
  // The handler is clicked again directly (re-entering) and through the event queue (two
  // events waiting when it returns). Without the guard each of them runs the handler again.
  for (const Case c : {Case{true, 1}, Case{false, 3}}) {
    SCOPED_TRACE(c.ignore ? "EgnoreContClick" : "plain");
    TCuteButton* b = button_;
    b->SetEgnoreContClick(c.ignore);
    int calls = 0;
    const auto connection = QObject::connect(b, &TCuteButton::OnClick, [&] {
      if (++calls > 1) return;
      QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(30, 10));
      const QPointF at(30, 10);
      QCoreApplication::postEvent(
          b, new QMouseEvent(QEvent::MouseButtonPress, at, b->mapToGlobal(at), Qt::LeftButton,
                             Qt::LeftButton, Qt::NoModifier));
      QCoreApplication::postEvent(
          b, new QMouseEvent(QEvent::MouseButtonRelease, at, b->mapToGlobal(at), Qt::LeftButton,
                             Qt::NoButton, Qt::NoModifier));
    });
    QTest::mouseClick(b, Qt::LeftButton, {}, Inside());
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, c.expectedCalls);

    QTest::mouseClick(b, Qt::LeftButton, {}, Inside());
    EXPECT_GT(calls, c.expectedCalls) << "the handler is back for the next click";
    QObject::disconnect(connection);
    QCoreApplication::processEvents();
  }
}

TEST_F(CuteButtonTest, HandlerMayDeleteItsButton) {
  for (const bool ignore : {true, false}) {
    auto* b = new TCuteButton(QStringLiteral("x"), form_.get());
    b->setGeometry(130, 40, 60, 20);
    b->show();
    b->SetEgnoreContClick(ignore);
    QObject::connect(b, &TCuteButton::OnClick, [b] { delete b; });
    QPointer<TCuteButton> watch(b);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(watch.isNull());
  }
}

// ---------------------------------------------------------------------------------------
// Drop-down menu

class CuteButtonMenuTest : public CuteButtonTest {
 protected:
  void SetUp() override {
    CuteButtonTest::SetUp();
    menu_ = std::make_unique<QMenu>();
    chosen_ = menu_->addAction(QString::fromUtf8("全問表示"));
    menu_->addAction(QString::fromUtf8("問題検索"));
    button_->SetDropDownMenu(menu_.get());
  }
  void TearDown() override {
    button_->SetDropDownMenu(nullptr);
    CuteButtonTest::TearDown();
    menu_.reset();
  }
  QPoint BelowButton() const { return button_->mapToGlobal(QPoint(0, button_->height())); }

  std::unique_ptr<QMenu> menu_;
  QAction* chosen_ = nullptr;
};

TEST_F(CuteButtonMenuTest, PressDropsTheMenuBelowTheButtonAndDoesNotClick) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  QSignalSpy triggered(chosen_, &QAction::triggered);
  PopupCloser closer(/*choose=*/true);
  QTest::mousePress(button_, Qt::LeftButton, {}, Inside());  // returns when the menu closed
  ASSERT_TRUE(closer.Seen());
  EXPECT_EQ(closer.Position(), BelowButton());
  EXPECT_EQ(triggered.count(), 1);
  EXPECT_NE(button_->BevelOuter(), Bevel::Lowered) << "the press ended with the menu";
  QTest::mouseRelease(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(CuteButtonMenuTest, KeysDropTheMenuAtOnceWithoutDelay) {
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  button_->setFocus();
  for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
    PopupCloser closer;
    QTest::keyPress(button_, key);
    EXPECT_TRUE(closer.Seen()) << key;
    QTest::keyRelease(button_, key);
    EXPECT_EQ(button_->BevelOuter(), Bevel::Raised) << key;
  }
  EXPECT_EQ(clicks.count(), 0);
}

TEST_F(CuteButtonMenuTest, WithADelayAQuickPressClicksAndAHeldPressDropsTheMenu) {
  button_->SetDropDownDelay(300);
  QSignalSpy clicks(button_, &TCuteButton::OnClick);

  QTest::mousePress(button_, Qt::LeftButton, {}, Inside());
  ASSERT_NE(button_->DropDownTimer(), nullptr);
  EXPECT_EQ(button_->DropDownTimer()->Button(), button_);
  EXPECT_EQ(button_->DropDownTimer()->interval(), 300);
  QTest::mouseRelease(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(button_->DropDownTimer(), nullptr) << "released in time: no menu will follow";

  button_->setFocus();
  QTest::keyClick(button_, Qt::Key_Return);
  EXPECT_EQ(clicks.count(), 2) << "Enter clicks when the menu waits for a hold";
  QTest::keyPress(button_, Qt::Key_Space);
  ASSERT_NE(button_->DropDownTimer(), nullptr);
  QTest::keyRelease(button_, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 3);
  EXPECT_EQ(button_->DropDownTimer(), nullptr) << "a Space released in time drops nothing";

  PopupCloser closer;
  QTest::mousePress(button_, Qt::LeftButton, {}, Inside());
  QTRY_VERIFY_WITH_TIMEOUT(closer.Seen(), 10000);
  EXPECT_EQ(closer.Position(), BelowButton());
  QTest::mouseRelease(button_, Qt::LeftButton, {}, Inside());
  EXPECT_EQ(clicks.count(), 3) << "a press that dropped the menu never clicks";
  EXPECT_EQ(button_->DropDownTimer(), nullptr);
}

TEST_F(CuteButtonMenuTest, HeldSpaceDropsTheMenuAfterTheDelay) {
  button_->SetDropDownDelay(200);
  QSignalSpy clicks(button_, &TCuteButton::OnClick);
  button_->setFocus();
  PopupCloser closer;
  QTest::keyPress(button_, Qt::Key_Space);
  QTRY_VERIFY_WITH_TIMEOUT(closer.Seen(), 10000);
  QTest::keyRelease(button_, Qt::Key_Space);
  EXPECT_EQ(clicks.count(), 0);
  EXPECT_EQ(button_->BevelOuter(), Bevel::Raised);
}

// ---------------------------------------------------------------------------------------
// Drawing

QImage Render(QWidget* widget) {
  return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

QColor Pixel(const QImage& image, int x, int y) {
  return image.pixelColor(x, y);
}

// The bounding box of the pixels of `color` inside `area`.
QRect BoxOf(const QImage& image, const QColor& color, const QRect& area) {
  QRect box;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) {
      if (image.pixelColor(x, y) == color) box |= QRect(x, y, 1, 1);
    }
  }
  return box;
}

// A larger button with an unsmoothed font, so caption pixels have exact colours.
class CuteButtonPaintTest : public CuteButtonTest {
 protected:
  void SetUp() override {
    CuteButtonTest::SetUp();
    QFont font = UiFont(16);
    font.setStyleStrategy(QFont::NoAntialias);
    button_->setFont(font);
    button_->setGeometry(20, 20, 120, 40);
  }
  QRect Inner() const { return QRect(2, 2, 116, 36); }
};

TEST_F(CuteButtonPaintTest, BevelsByState) {
  struct Case {
    const char* name;
    bool flat;
    std::function<void(TCuteButton*)> drive;
    QColor outerTopLeft, outerBottomRight, innerTopLeft, innerBottomRight;
  };
  const auto rest = [](TCuteButton*) {};
  const auto hover = [](TCuteButton* b) { QTest::mouseMove(b, QPoint(60, 20)); };
  const auto press = [](TCuteButton* b) {
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(60, 20));
  };
  const Case cases[] = {
      {"resting", false, rest, kFace, kFace, kHighlight, kShadow},
      {"resting flat", true, rest, kFace, kFace, kFace, kFace},
      {"hot", false, hover, kHighlight, kShadow, kHighlight, kShadow},
      {"hot flat", true, hover, kHighlight, kShadow, kFace, kFace},
      {"pressed", false, press, kShadow, kHighlight, kHighlight, kShadow},
      {"pressed flat", true, press, kShadow, kHighlight, kFace, kFace},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    button_->SetFlat(c.flat);
    c.drive(button_);
    const QImage image = Render(button_);
    const int r = image.width() - 1, b = image.height() - 1;
    EXPECT_EQ(Pixel(image, 0, 0), c.outerTopLeft);
    EXPECT_EQ(Pixel(image, 10, 0), c.outerTopLeft);
    EXPECT_EQ(Pixel(image, 0, 10), c.outerTopLeft);
    EXPECT_EQ(Pixel(image, r, 10), c.outerBottomRight);
    EXPECT_EQ(Pixel(image, 10, b), c.outerBottomRight);
    EXPECT_EQ(Pixel(image, r, b), c.outerBottomRight);
    EXPECT_EQ(Pixel(image, 1, 10), c.innerTopLeft);
    EXPECT_EQ(Pixel(image, r - 1, 10), c.innerBottomRight);
    EXPECT_EQ(Pixel(image, 4, 4), kFace);
    QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(60, 20));
    QTest::mouseMove(form_.get(), QPoint(5, 5));
    other_->setFocus();
  }
}

TEST_F(CuteButtonPaintTest, EnabledCaptionIsDrawnInItsColour) {
  const QImage image = Render(button_);
  EXPECT_TRUE(BoxOf(image, kInk, Inner()).isValid());
  EXPECT_FALSE(BoxOf(image, kShadow, Inner()).isValid());
}

TEST_F(CuteButtonPaintTest, DisabledButtonKeepsItsColourAndEngravesTheCaption) {
  button_->setEnabled(false);
  const QImage image = Render(button_);
  EXPECT_EQ(Pixel(image, 4, 4), kFace) << "UseDisabledColor is false";
  EXPECT_FALSE(BoxOf(image, kInk, Inner()).isValid()) << "no caption in its enabled colour";
  const QRect dark = BoxOf(image, kShadow, Inner());
  const QRect light = BoxOf(image, kHighlight, Inner());
  ASSERT_TRUE(dark.isValid());
  ASSERT_TRUE(light.isValid());
  EXPECT_EQ(light.right(), dark.right() + 1) << "the light copy lies one pixel right";
  EXPECT_EQ(light.bottom(), dark.bottom() + 1) << "and one pixel down";

  button_->SetUseDisabledColor(true);
  EXPECT_EQ(Pixel(Render(button_), 4, 4), QColor(128, 128, 128));
  button_->setEnabled(true);
  EXPECT_EQ(Pixel(Render(button_), 4, 4), kFace) << "the disabled colour is for disabled only";
}

TEST_F(CuteButtonPaintTest, CaptionPlacementFollowsAlignmentLayoutAndMargins) {
  using A = TCuteButton::TAlignment;
  using L = TCuteButton::TTextLayout;
  button_->SetCaption(QStringLiteral("Ab"));
  struct Case {
    A alignment;
    L layout;
    int marginX, marginY;
    QPoint shift;  // expected move of the caption against no margins
  };
  const Case cases[] = {
      {A::Left, L::Top, 10, 6, QPoint(10, 6)},
      {A::Right, L::Bottom, 10, 6, QPoint(-10, -6)},
      {A::Center, L::Center, 10, 6, QPoint(0, 0)},
      {A::Left, L::Center, -5, -5, QPoint(0, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << int(c.alignment) << "/" << int(c.layout));
    button_->SetAlignment(c.alignment);
    button_->SetLayout(c.layout);
    button_->SetMarginX(-1);
    button_->SetMarginY(-1);
    const QRect plain = BoxOf(Render(button_), kInk, Inner());
    button_->SetMarginX(c.marginX);
    button_->SetMarginY(c.marginY);
    const QRect moved = BoxOf(Render(button_), kInk, Inner());
    ASSERT_TRUE(plain.isValid());
    EXPECT_EQ(moved.topLeft() - plain.topLeft(), c.shift);
  }
  // Left and top aligned, the caption sits against the text rectangle inside both bevels.
  button_->SetAlignment(A::Left);
  button_->SetLayout(L::Top);
  button_->SetMarginX(-1);
  button_->SetMarginY(-1);
  EXPECT_EQ(button_->TextRect(), QRect(2, 2, 116, 36));
  button_->SetFlat(true);
  EXPECT_EQ(button_->TextRect(), QRect(1, 1, 118, 38)) << "flat: one bevel width only";
}

TEST_F(CuteButtonPaintTest, CaptionShiftsWhilePressed) {
  button_->SetAlignment(TCuteButton::TAlignment::Left);
  button_->SetLayout(TCuteButton::TTextLayout::Top);
  const QRect up = BoxOf(Render(button_), kInk, Inner());
  QTest::mousePress(button_, Qt::LeftButton, {}, QPoint(60, 20));
  const QRect down = BoxOf(Render(button_), kInk, Inner());
  QTest::mouseRelease(button_, Qt::LeftButton, {}, QPoint(60, 20));
  EXPECT_EQ(down.topLeft() - up.topLeft(), QPoint(2, 2));
}

TEST_F(CuteButtonPaintTest, FocusRectangleOnlyWhenAskedAndFocused) {
  button_->SetCaption(QString());
  const QRect focusRow(6, 4, 108, 1);  // top edge: 2 inside the text rectangle at (2, 2)
  button_->SetShowFocusRect(true);
  EXPECT_FALSE(BoxOf(Render(button_), kInk, focusRow).isValid()) << "not focused";
  button_->setFocus();
  EXPECT_TRUE(BoxOf(Render(button_), kInk, focusRow).isValid());
  button_->SetShowFocusRect(false);
  EXPECT_FALSE(BoxOf(Render(button_), kInk, focusRow).isValid());
}

TEST_F(CuteButtonPaintTest, TinyButtonWithHugeBevelsAndMarginsPaintsWithoutTrouble) {
  button_->resize(6, 5);
  button_->SetBevelWidth(4);
  button_->SetMarginX(50);
  button_->SetMarginY(50);
  button_->SetAlignment(TCuteButton::TAlignment::Right);
  button_->SetShowFocusRect(true);
  button_->setFocus();
  const QImage image = Render(button_);
  EXPECT_EQ(image.size(), QSize(6, 5));
}

}  // namespace
}  // namespace goramina
