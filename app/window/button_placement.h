#pragma once
// Where the two job buttons go in their band: centred at one quarter and
// three quarters of it, equally wide.

namespace orx {

struct ButtonPair {
  int fileWidth = 0;
  int serverWidth = 0;
  int fileLeft = 0;
  int serverLeft = 0;
};

// current: the buttons' widths now (their left edges are not read).
// fileCaptionWidth / serverCaptionWidth: the captions' advances in pixels.
// Widths only grow towards caption + 12 here, so after a narrow band has cut
// them, a wider band lets them grow back to that width and no further.
ButtonPair PlaceButtons(ButtonPair current, int fileCaptionWidth, int serverCaptionWidth,
                        int bandInnerWidth);

}  // namespace orx
