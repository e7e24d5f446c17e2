// The picture control: a child window that draws its picture container's graphic stretched
// to its own area (or centred / at the top-left when not stretched), sizes itself to the
// picture when AutoSize is on, and reports double-click, press, move and release.  The mouse
// is captured while the left button is held.
#ifndef KORVALE_TOOLKIT_IMAGE_H
#define KORVALE_TOOLKIT_IMAGE_H

#include "picture/picture.h"
#include "toolkit/controls.h"

class TImage : public TWinControl {
 public:
  explicit TImage(TForm* owner);
  ~TImage() override;

  TPicture& Picture() { return picture_; }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool on);  // switching on takes the picture's size now
  bool Stretch() const { return stretch_; }
  void SetStretch(bool on);
  bool Center() const { return center_; }
  void SetCenter(bool on);
  // Where the graphic is drawn inside the control.
  TRect DestRect();

  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;

 protected:
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void PictureChanged();
  void FitToPicture();
  void Paint();
  void MouseDown(TMouseButton button, WPARAM wp, LPARAM lp, bool dbl);
  void MouseUp(TMouseButton button, WPARAM wp, LPARAM lp);

  TPicture picture_;
  bool autoSize_ = false, stretch_ = false, center_ = false;
};

#endif
