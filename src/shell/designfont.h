#pragma once
#include <QFont>

// The font the window layouts were designed with: an 8-point sans serif with Arial's metrics.
// Wider desktop fonts would clip captions in controls placed at fixed positions.
QFont designFont();
