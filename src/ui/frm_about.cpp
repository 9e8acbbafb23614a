#include "ui/frm_about.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "state/version.h"
#include "ui/colour_scheme.h"
#include "ui/help.h"
#include "ui/program_icon.h"
#include "ui/twips.h"

namespace lapse::ui {

frmAbout::frmAbout(HelpService& help, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      cmdOK(new QPushButton(QStringLiteral("OK"), this)),
      imgAbout(new QLabel(this)),
      Label1(new QLabel(QStringLiteral("Lapse Version " LAPSE_VERSION), this)) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About Lapse"));
  // Window-modal, so that the help window stays usable while the box is up.
  setWindowModality(Qt::WindowModal);
  CarryHelpTopic(*this);

  cmdOK->setObjectName(QStringLiteral("cmdOK"));
  cmdOK->setGeometry(TwipsRect(1800, 1800, 1335, 495));
  cmdOK->setDefault(true);
  connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

  imgAbout->setObjectName(QStringLiteral("imgAbout"));
  imgAbout->setGeometry(TwipsRect(600, 240, 480, 480));
  imgAbout->setPixmap(ProgramPixmap(32));
  imgAbout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  KeepOwnColours(*imgAbout);

  Label1->setObjectName(QStringLiteral("Label1"));
  // The designed width is too narrow for the text in most fonts; the label
  // keeps its place and grows to the right.
  const QRect label = TwipsRect(1800, 240, 1335, 255);
  Label1->setGeometry(
      label.adjusted(0, 0, std::max(0, Label1->sizeHint().width() - label.width()), 0));

  setFixedSize(TwipsSize(4575, 2430));
  setGeometry(QRect(TwipsPoint(3180, 1650), size()));
  InstallContextHelp(*this, help);

  UseColourScheme(*this, *this, [this] { return ControlOrder(); });
}

std::vector<QObject*> frmAbout::ControlOrder() const {
  return {cmdOK, imgAbout, Label1};
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
  // The box has no cancel button: Esc does nothing.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace lapse::ui
