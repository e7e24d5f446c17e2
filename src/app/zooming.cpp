// Zoom in and out by a quarter, back to the picture's own size, and panning by dragging.
#include "app/korvale02.h"

void TForm1::Action2Execute(TObject*) {
  Image1->SetAutoSize(false);
  const int64_t w = static_cast<int64_t>(Image1->Width()) * 4 / 3;
  const int64_t h = static_cast<int64_t>(Image1->Height()) * 4 / 3;
  if (w > kMaxShownSide || h > kMaxShownSide) return;
  Image1->SetBounds(Image1->Left(), Image1->Top(), static_cast<int32_t>(w), static_cast<int32_t>(h));
}

void TForm1::Action8Execute(TObject*) {
  Image1->SetAutoSize(false);
  const int64_t w = static_cast<int64_t>(Image1->Width()) * 3 / 4;
  const int64_t h = static_cast<int64_t>(Image1->Height()) * 3 / 4;
  Image1->SetBounds(Image1->Left(), Image1->Top(), static_cast<int32_t>(w), static_cast<int32_t>(h));
}

void TForm1::Action9Execute(TObject*) {
  Image1->SetBounds(Image1->Left(), Image1->Top(), Image1->Picture().Width(), Image1->Picture().Height());
  FitWindow();
}

void TForm1::Image1MouseDown(TObject*, TMouseButton, TShiftState, int X, int Y) {
  Dragging = true;
  DragStartX = X;
  DragStartY = Y;
}

void TForm1::Image1MouseMove(TObject*, TShiftState, int X, int Y) {
  if (!Dragging) return;
  SetVertScrollPosition(VertScrollPosition() + (DragStartY - Y));
  SetHorzScrollPosition(HorzScrollPosition() + (DragStartX - X));
}

void TForm1::Image1MouseUp(TObject*, TMouseButton, TShiftState, int, int) { Dragging = false; }
