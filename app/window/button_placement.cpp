#include "app/window/button_placement.h"

namespace orx {
namespace {

constexpr int kCaptionPadding = 12;

}  // namespace

ButtonPair PlaceButtons(ButtonPair current, int fileCaptionWidth, int serverCaptionWidth,
                        int bandInnerWidth) {
  ButtonPair placed = current;
  if (placed.fileWidth < fileCaptionWidth + kCaptionPadding) {
    placed.fileWidth = fileCaptionWidth + kCaptionPadding;
  }
  if (placed.serverWidth < serverCaptionWidth + kCaptionPadding) {
    placed.serverWidth = serverCaptionWidth + kCaptionPadding;
  }
  if (placed.serverWidth < placed.fileWidth) placed.serverWidth = placed.fileWidth;
  if (placed.fileWidth < placed.serverWidth) placed.fileWidth = placed.serverWidth;

  const int q = bandInnerWidth / 4;
  if (placed.fileWidth > 2 * q) {
    placed.fileWidth = 2 * q;
    placed.serverWidth = 2 * q;
  }
  placed.fileLeft = q - placed.fileWidth / 2;
  placed.serverLeft = 3 * q - placed.serverWidth / 2;
  return placed;
}

}  // namespace orx
