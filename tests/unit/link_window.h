// The program's main window for the reader-link and settings tests, made as
// start-up makes it, with a procedure in front of the program's that notes
// lamp repaints and holds back timer ticks.
#ifndef VELMORA_TESTS_LINK_WINDOW_H
#define VELMORA_TESTS_LINK_WINDOW_H

#include <windows.h>

#include "protocol/wire.h"

// Creates mainWindow in English on the page of `type` and shows it.
void createTestMainWindow(ReaderType type);
void destroyTestMainWindow();

// Dispatches whatever is queued for this thread.
void pumpMessages();

// How much of the lamp area has been asked to repaint since
// forgetLampRepaints: whether painted meanwhile or still invalid.
enum class LampRepaint { None, Part, Whole };
void forgetLampRepaints();
LampRepaint lampRepaint();

// Check state of a radio button by its control id.
bool isRadioChecked(int id);
bool isControlEnabled(int id);

#endif
