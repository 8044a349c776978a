// The caption sheets and the text lines cut from them: built once, shared by every
// scene that shows captions for the whole run.
#pragma once

#include "image/surface.h"

class SubImage;

extern Surface* textSheet1;
extern Surface* textSheet2;
extern Surface* textSheet3;
extern SubImage* sheet1Lines[12];
extern SubImage* sheet2Lines[11];
extern SubImage* sheet3Lines[12];

// Copies the three sheets from the built-in images and cuts their 35 lines, the
// first time it is called; later calls keep what exists.
void buildCaptionSheets();
