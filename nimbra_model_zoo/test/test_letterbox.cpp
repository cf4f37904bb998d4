#include <gtest/gtest.h>

#include <stdexcept>

#include "nimbra_model_zoo/letterbox.hpp"

namespace orvix::model {
namespace {

TEST(Letterbox, ScalesUniformlyAndCentres) {
  struct Geometry {
    cv::Size image;
    cv::Size input;
    double scale;
    cv::Size scaled;
    int pad_x;
    int pad_y;
  };
  for (Geometry const& g : {Geometry{{640, 480}, {640, 640}, 1.0, {640, 480}, 0, 80},
                            Geometry{{1280, 720}, {640, 640}, 0.5, {640, 360}, 0, 140},
                            Geometry{{480, 640}, {640, 640}, 1.0, {480, 640}, 80, 0},
                            Geometry{{256, 128}, {64, 64}, 0.25, {64, 32}, 0, 16},
                            Geometry{{100, 100}, {64, 64}, 0.64, {64, 64}, 0, 0},
                            Geometry{{320, 240}, {640, 640}, 2.0, {640, 480}, 0, 80},
                            // A one-pixel-high strip keeps at least one row.
                            Geometry{{3200, 1}, {64, 64}, 0.02, {64, 1}, 0, 31}}) {
    SCOPED_TRACE(::testing::Message() << g.image << " into " << g.input);
    Letterbox const letterbox(g.image, g.input);
    EXPECT_DOUBLE_EQ(letterbox.Scale(), g.scale);
    EXPECT_EQ(letterbox.ScaledSize(), g.scaled);
    EXPECT_EQ(cv::Point(letterbox.PadX(), letterbox.PadY()), cv::Point(g.pad_x, g.pad_y));
    // Image corners land on the scaled area's corners.
    EXPECT_DOUBLE_EQ(letterbox.ToInputX(0.0), g.pad_x);
    EXPECT_DOUBLE_EQ(letterbox.ToInputY(0.0), g.pad_y);
    EXPECT_NEAR(letterbox.ToImageX(letterbox.ToInputX(17.25)), 17.25, 1e-9);
    EXPECT_NEAR(letterbox.ToImageY(letterbox.ToInputY(3.5)), 3.5, 1e-9);
  }
  EXPECT_THROW(Letterbox(cv::Size(0, 10), cv::Size(64, 64)), std::invalid_argument);
  EXPECT_THROW(Letterbox(cv::Size(10, 10), cv::Size(64, -1)), std::invalid_argument);
}

TEST(Letterbox, BlobResizesTheImageIntoTheScaledArea) {
  // Left half black, right half white: after halving, the split stays at the middle column.
  cv::Mat image(64, 128, CV_8UC3, cv::Scalar::all(0));
  image(cv::Rect(64, 0, 64, 64)).setTo(cv::Scalar::all(255));
  Letterbox const letterbox(image.size(), cv::Size(64, 64));
  cv::Mat blob;
  cv::Mat padded;
  letterbox.MakeBlob(image, blob, padded);
  int const left[] = {0, 1, 32, 10};
  int const right[] = {0, 1, 32, 50};
  int const padding[] = {0, 1, 5, 50};
  EXPECT_NEAR(blob.at<float>(left), 0.0F, 1e-6);
  EXPECT_NEAR(blob.at<float>(right), 1.0F, 1e-6);
  EXPECT_NEAR(blob.at<float>(padding), Letterbox::kPadValue / 255.0F, 1e-6);
}

}  // namespace
}  // namespace orvix::model
