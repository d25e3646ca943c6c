// SPDX-License-Identifier: MIT
#include "gui/form_start.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>

#include "gui/qt_common.h"
#include "gui/form_about.h"

namespace zelto::qt {

namespace {
constexpr QColor kNavy(0, 0, 128);

QLabel* MakeStatusLabel(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry, const QFont& font, const QColor& colour) {
  QLabel* label = MakePlainLabel(parent, name, text);
  label->setGeometry(geometry);
  label->setFont(font);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  SetTextColour(label, colour);
  // Transparent: the logo shows through around the letters.
  label->setAutoFillBackground(false);
  return label;
}
}  // namespace

FormStart::FormStart(QWidget* parent) : QMainWindow(parent) {
  InitResources();
  setObjectName("FormStart");
  setWindowTitle("ZeltoSoft");
  setWindowIcon(WindowIcon());

  auto* client = new QWidget(this);
  client->setObjectName("FormStartClient");
  SetBackgroundColour(client, Qt::white);
  client->setFixedSize(Twips(6060), Twips(2490));
  setCentralWidget(client);
  // The window is as large as its client area and menu bar, never resized by the user.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  // Created first so that it lies behind the labels; shown at its natural size and cut off
  // by the client area's edges.
  image1_ = new QLabel(client);
  image1_->setObjectName("Image1");
  const QPixmap logo(kProductLogo);
  image1_->setPixmap(logo);
  image1_->setGeometry(QRect(TwipsRect(180, 180, 0, 0).topLeft(), logo.size()));
  image1_->setAccessibleName(QStringLiteral("ZeltoSoft"));

  const QFont arial = MakeFont(ArialFamilies(), 13.5, true, true);
  label_status_device_ =
      MakeStatusLabel(client, "LabelStatusDevice", "Stato dispositivo",
                      TwipsRect(180, 1620, 5712, 672), arial, ToQColor(kDarkRed));
  label_status_prog_ = MakeStatusLabel(client, "LabelStatusProg", "Stato Programmatore",
                                       TwipsRect(120, 960, 5772, 732), arial, ToQColor(kGreen));
  label_ver_ = MakeStatusLabel(client, "LabelVer", "Ver 1.00", TwipsRect(3420, 300, 1932, 432),
                               MakeFont(ComicSansFamilies(), 13.5, true, true), kNavy);
  label_name_ = MakeStatusLabel(client, "LabelName", "ZeltoSoft", TwipsRect(540, 60, 2952, 792),
                                MakeFont(ComicSansFamilies(), 25.5, true, true), kNavy);
  image1_->lower();

  // A top-level entry without a sub-menu acts at once when clicked.
  mnu_exit_ = menuBar()->addAction("&Exit");
  mnu_exit_->setObjectName("MnuExit");
  mnu_language_ = menuBar()->addMenu("&Language");
  mnu_language_->setObjectName("MnuLanguage");
  mnu_language_->menuAction()->setObjectName("MnuLanguage");
  mnu_language_it_ = mnu_language_->addAction("&Italian");
  mnu_language_it_->setObjectName("MnuLanguageIt");
  mnu_language_eng_ = mnu_language_->addAction("&English");
  mnu_language_eng_->setObjectName("MnuLanguageEng");
  mnu_about_ = menuBar()->addAction("?");
  mnu_about_->setObjectName("MnuAbout");

  connect(mnu_exit_, &QAction::triggered, this, [this] { Raise(handlers_.mnu_exit); });
  connect(mnu_about_, &QAction::triggered, this, [this] { Raise(handlers_.mnu_about); });
  connect(mnu_language_it_, &QAction::triggered, this,
          [this] { Raise(handlers_.mnu_language_it); });
  connect(mnu_language_eng_, &QAction::triggered, this,
          [this] { Raise(handlers_.mnu_language_eng); });
}

FormStart::~FormStart() = default;

void FormStart::Raise(const std::function<void()>& handler) {
  // Once unloaded the window is gone as far as the program is concerned.
  if (unloaded_ || !handler) return;
  handler();
}

void FormStart::SetLabelVer(const std::string& text) {
  label_ver_->setText(FromCp1252(text));
}

void FormStart::SetMenuCaption(MainMenu menu, const std::string& text) {
  const QString caption = FromCp1252(text);
  switch (menu) {
    case MainMenu::MnuExit:
      mnu_exit_->setText(caption);
      break;
    case MainMenu::MnuLanguage:
      mnu_language_->setTitle(caption);
      break;
    case MainMenu::MnuLanguageIt:
      mnu_language_it_->setText(caption);
      break;
    case MainMenu::MnuLanguageEng:
      mnu_language_eng_->setText(caption);
      break;
  }
}

void FormStart::SetStatusProg(const std::string& text) {
  label_status_prog_->setText(FromCp1252(text));
}

void FormStart::SetStatusProgColour(Rgb colour) {
  SetTextColour(label_status_prog_, ToQColor(colour));
}

void FormStart::SetStatusDevice(const std::string& text) {
  label_status_device_->setText(FromCp1252(text));
}

void FormStart::SetStatusDeviceColour(Rgb colour) {
  SetTextColour(label_status_device_, ToQColor(colour));
}

void FormStart::ShowWindow() {
  if (unloaded_) return;
  if (!placed_) {
    // Centred when it first appears; later it comes back where the user left it.
    placed_ = true;
    layout()->activate();
    move(CentredOnScreen(sizeHint().expandedTo(size()), this));
  }
  show();
  raise();
  activateWindow();
}

void FormStart::HideWindow() {
  hide();
}

void FormStart::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (about_ != nullptr) about_->reject();
  hide();
}

void FormStart::ShowAbout() {
  if (unloaded_ || about_ != nullptr) return;
  FormAbout box(this);
  about_ = &box;
  box.move(geometry().center() - QPoint(box.width() / 2, box.height() / 2));
  box.exec();
  about_ = nullptr;
}

bool FormStart::AboutShown() const {
  return about_ != nullptr && about_->isVisible();
}

void FormStart::ShowFatalMessage(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Critical, FromCp1252(title), FromCp1252(text), QMessageBox::Ok,
                  isVisible() ? this : nullptr);
  box.setObjectName("FatalMessage");
  box.setTextFormat(Qt::PlainText);
  box.setWindowIcon(windowIcon());
  box.exec();
}

void FormStart::closeEvent(QCloseEvent* event) {
  if (unloaded_) {
    event->accept();
    return;
  }
  // The program decides: it unloads the window (and ends) through Unload().
  event->ignore();
  Raise(handlers_.close_box);
}

}  // namespace zelto::qt
