#include "about_box.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "handset_picture.h"
#include "window_model.h"

about_box::about_box(const char *description, const char *md5_notice, QWidget *parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Flasher"));
  setModal(true);

  auto *icon = new QLabel(this);
  icon->setPixmap(handset_picture());
  icon->setAlignment(Qt::AlignTop);

  auto *texts = new QVBoxLayout;
  for (const QString &line : {QString::fromUtf8(description), QStringLiteral("Version ") + QString::fromUtf8(kStationVersion),
                              QString::fromUtf8(md5_notice)}) {
    auto *label = new QLabel(line, this);
    label->setWordWrap(true);
    texts->addWidget(label);
  }
  texts->addStretch();

  auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto *top = new QHBoxLayout;
  top->addWidget(icon);
  top->addLayout(texts, 1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  resize(352, 200);  // the box's 235 x 123 dialog units
}
