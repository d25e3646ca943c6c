// SPDX-License-Identifier: MIT
#include "gui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>

#include "gui/qt_common.h"
#include "gui/about_box.h"

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

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  InitResources();
  setObjectName("MainWindow");
  setWindowTitle("ZeltoSoft");
  setWindowIcon(WindowIcon());

  auto* client = new QWidget(this);
  client->setObjectName("MainWindowClient");
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
  exit_menu_ = menuBar()->addAction("&Exit");
  exit_menu_->setObjectName("ExitMenu");
  language_menu_ = menuBar()->addMenu("&Language");
  language_menu_->setObjectName("LanguageMenu");
  language_menu_->menuAction()->setObjectName("LanguageMenu");
  italian_menu_ = language_menu_->addAction("&Italian");
  italian_menu_->setObjectName("ItalianMenu");
  english_menu_ = language_menu_->addAction("&English");
  english_menu_->setObjectName("EnglishMenu");
  about_menu_ = menuBar()->addAction("?");
  about_menu_->setObjectName("AboutMenu");

  connect(exit_menu_, &QAction::triggered, this, [this] { Raise(handlers_.exit_chosen); });
  connect(about_menu_, &QAction::triggered, this, [this] { Raise(handlers_.about_chosen); });
  connect(italian_menu_, &QAction::triggered, this,
          [this] { Raise(handlers_.italian_chosen); });
  connect(english_menu_, &QAction::triggered, this,
          [this] { Raise(handlers_.english_chosen); });
}

MainWindow::~MainWindow() = default;

void MainWindow::Raise(const std::function<void()>& handler) {
  // Once unloaded the window is gone as far as the program is concerned.
  if (unloaded_ || !handler) return;
  handler();
}

void MainWindow::SetLabelVer(const std::string& text) {
  label_ver_->setText(FromCp1252(text));
}

void MainWindow::SetMenuCaption(MainMenu menu, const std::string& text) {
  const QString caption = FromCp1252(text);
  switch (menu) {
    case MainMenu::kExit:
      exit_menu_->setText(caption);
      break;
    case MainMenu::kLanguage:
      language_menu_->setTitle(caption);
      break;
    case MainMenu::kItalian:
      italian_menu_->setText(caption);
      break;
    case MainMenu::kEnglish:
      english_menu_->setText(caption);
      break;
  }
}

void MainWindow::SetStatusProg(const std::string& text) {
  label_status_prog_->setText(FromCp1252(text));
}

void MainWindow::SetStatusProgColour(Rgb colour) {
  SetTextColour(label_status_prog_, ToQColor(colour));
}

void MainWindow::SetStatusDevice(const std::string& text) {
  label_status_device_->setText(FromCp1252(text));
}

void MainWindow::SetStatusDeviceColour(Rgb colour) {
  SetTextColour(label_status_device_, ToQColor(colour));
}

void MainWindow::ShowWindow() {
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

void MainWindow::HideWindow() {
  hide();
}

void MainWindow::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (about_ != nullptr) about_->reject();
  hide();
}

void MainWindow::ShowAbout() {
  if (unloaded_ || about_ != nullptr) return;
  AboutBox box(this);
  about_ = &box;
  box.move(geometry().center() - QPoint(box.width() / 2, box.height() / 2));
  box.exec();
  about_ = nullptr;
}

bool MainWindow::AboutShown() const {
  return about_ != nullptr && about_->isVisible();
}

void MainWindow::ShowFatalMessage(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Critical, FromCp1252(title), FromCp1252(text), QMessageBox::Ok,
                  isVisible() ? this : nullptr);
  box.setObjectName("FatalMessage");
  box.setTextFormat(Qt::PlainText);
  box.setWindowIcon(windowIcon());
  box.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (unloaded_) {
    event->accept();
    return;
  }
  // The program decides: it unloads the window (and ends) through Unload().
  event->ignore();
  Raise(handlers_.close_box);
}

}  // namespace zelto::qt
