#include "edittarget.h"

#include <QWidget>

EditTarget *EditTarget::of(QWidget *window) { return dynamic_cast<EditTarget *>(window); }
