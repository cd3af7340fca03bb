// Read by lupdate only, never compiled: the capture format names are shown through
// Camera::tr() but kept in a plain list (options/captureformats.cpp), which lupdate cannot
// see into. Listed here so that each has a message a translator can change. The l10n test
// checks that this list and the program's list agree.
#error "for lupdate only"

QT_TRANSLATE_NOOP("Camera", "480x640")
QT_TRANSLATE_NOOP("Camera", "480x480")
QT_TRANSLATE_NOOP("Camera", "480x320")
QT_TRANSLATE_NOOP("Camera", "240x320")
QT_TRANSLATE_NOOP("Camera", "240x240")
QT_TRANSLATE_NOOP("Camera", "240x160")
QT_TRANSLATE_NOOP("Camera", "160x160")
QT_TRANSLATE_NOOP("Camera", "120x160")
QT_TRANSLATE_NOOP("Camera", "120x80")
QT_TRANSLATE_NOOP("Camera", "80x80")
QT_TRANSLATE_NOOP("Camera", "256x256")
QT_TRANSLATE_NOOP("Camera", "128x128")
QT_TRANSLATE_NOOP("Camera", "64x64")
