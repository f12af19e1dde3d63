// The About box: caption "About Flasher", the picture, the description, the version, the MD5
// notice and an OK button.
#pragma once

#include <QDialog>

class about_box : public QDialog {
 public:
  about_box(const char *description, const char *md5_notice, QWidget *parent = nullptr);
};
