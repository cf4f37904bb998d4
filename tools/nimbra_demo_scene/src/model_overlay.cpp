#include "model_overlay.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include <opencv2/imgproc.hpp>

namespace nimbra_demo_scene
{
namespace
{

double boxIou(const orvix::model::ModelDetection & d, const PixelRegion & r)
{
  const double x0 = r.u_min, y0 = r.v_min, x1 = r.u_max + 1.0, y1 = r.v_max + 1.0;
  const double ix = std::max(0.0, std::min<double>(x1, d.x + d.width) - std::max<double>(x0, d.x));
  const double iy = std::max(0.0, std::min<double>(y1, d.y + d.height) - std::max<double>(y0, d.y));
  const double inter = ix * iy;
  const double uni = (x1 - x0) * (y1 - y0) + static_cast<double>(d.width) * d.height - inter;
  return uni > 0.0 ? inter / uni : 0.0;
}

std::string className(const std::vector<std::string> & classes, int32_t id)
{
  return id >= 0 && static_cast<size_t>(id) < classes.size() ? classes[id] :
         "class " + std::to_string(id);
}

}  // namespace

FrameCheck checkDetections(
  const std::vector<uint16_t> & labels, uint32_t width, uint32_t height,
  const std::vector<WorldObject> & objects,
  const std::vector<orvix::model::ModelDetection> & detections,
  const std::vector<std::string> & classes, uint32_t min_size)
{
  FrameCheck check;
  const std::vector<PixelRegion> regions = labelRegions(labels, width, height);
  // Owner object of each detection: most of its mask pixels; intersection counts with it.
  std::vector<uint16_t> owner(detections.size(), kNoObject);
  std::vector<size_t> owner_pixels(detections.size(), 0);
  std::vector<size_t> mask_pixels(detections.size(), 0);
  for (size_t i = 0; i < detections.size(); ++i) {
    const cv::Mat & mask = detections[i].mask;
    std::map<uint16_t, size_t> votes;
    if (mask.rows == static_cast<int>(height) && mask.cols == static_cast<int>(width)) {
      for (uint32_t v = 0; v < height; ++v) {
        const uint8_t * row = mask.ptr<uint8_t>(static_cast<int>(v));
        for (uint32_t u = 0; u < width; ++u) {
          if (row[u] != 0) {
            ++votes[labels[static_cast<size_t>(v) * width + u]];
            ++mask_pixels[i];
          }
        }
      }
    }
    const std::string cls = className(classes, detections[i].class_id);
    if (votes.empty()) {
      // A sliver too thin for the mask: the object of the detection's class with the most
      // pixels in the box, else whatever fills most of it.
      const cv::Rect box = cv::Rect(
        static_cast<int>(detections[i].x), static_cast<int>(detections[i].y),
        static_cast<int>(std::ceil(detections[i].width)),
        static_cast<int>(std::ceil(detections[i].height))) &
        cv::Rect(0, 0, static_cast<int>(width), static_cast<int>(height));
      for (int v = box.y; v < box.y + box.height; ++v) {
        for (int u = box.x; u < box.x + box.width; ++u) {
          const uint16_t id = labels[static_cast<size_t>(v) * width + u];
          const bool same = id < objects.size() && objects[id].semantic_class == cls;
          votes[id] += same ? box.area() : 1;  // any pixel of its class outweighs the rest
        }
      }
    }
    for (const auto & vote : votes) {
      if (vote.second > owner_pixels[i]) {
        owner[i] = vote.first;
        owner_pixels[i] = vote.second;
      }
    }
    if (mask_pixels[i] == 0) {
      owner_pixels[i] = 0;
    }
    const bool right = owner[i] != kNoObject && owner[i] < objects.size() &&
      objects[owner[i]].semantic_class == cls;
    if (!right) {
      char text[160];
      std::snprintf(
        text, sizeof(text), "%s %.2f at (%.0f, %.0f, %.0fx%.0f) on %s", cls.c_str(),
        detections[i].score, detections[i].x, detections[i].y, detections[i].width,
        detections[i].height,
        owner[i] < objects.size() ? objects[owner[i]].name.c_str() : "nothing");
      check.false_detections.push_back(text);
    }
  }
  for (const PixelRegion & region : regions) {
    if (region.id >= objects.size() || objects[region.id].semantic_class.empty() ||
      region.width() < min_size || region.height() < min_size)
    {
      continue;
    }
    ObjectCheck object;
    object.region = region;
    object.name = objects[region.id].name;
    object.expected_class = objects[region.id].semantic_class;
    for (size_t i = 0; i < detections.size(); ++i) {
      const double iou = boxIou(detections[i], region);
      if (owner[i] != region.id || iou <= object.box_iou) {
        continue;
      }
      object.detection = static_cast<int>(i);
      object.box_iou = iou;
      object.found_class = className(classes, detections[i].class_id);
      const size_t uni = region.pixels + mask_pixels[i] - owner_pixels[i];
      object.mask_iou = uni > 0 ? static_cast<double>(owner_pixels[i]) / uni : 0.0;
    }
    check.objects.push_back(object);
  }
  return check;
}

cv::Mat drawOverlay(
  const std::vector<uint8_t> & rgb8, const std::vector<uint16_t> & labels, uint32_t width,
  uint32_t height, const std::vector<WorldObject> & objects,
  const std::vector<orvix::model::ModelDetection> & detections,
  const std::vector<std::string> & classes)
{
  const int w = static_cast<int>(width);
  const int h = static_cast<int>(height);
  cv::Mat rgb(h, w, CV_8UC3, const_cast<uint8_t *>(rgb8.data()));
  cv::Mat picture;
  cv::cvtColor(rgb, picture, cv::COLOR_RGB2BGR);
  for (const orvix::model::ModelDetection & d : detections) {
    if (d.mask.size() != picture.size()) {
      continue;
    }
    cv::Mat lighter;
    cv::addWeighted(picture, 0.45, cv::Mat(picture.size(), CV_8UC3, cv::Scalar::all(255)), 0.55,
      0.0, lighter);
    lighter.copyTo(picture, d.mask);
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(d.mask.clone(), contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    cv::drawContours(picture, contours, -1, cv::Scalar(255, 0, 255), 1);
  }
  const auto text = [&](const std::string & s, cv::Point at, const cv::Scalar & colour) {
      at.y = std::max(at.y, 10);
      cv::putText(picture, s, at, cv::FONT_HERSHEY_SIMPLEX, 0.35, cv::Scalar::all(0), 2);
      cv::putText(picture, s, at, cv::FONT_HERSHEY_SIMPLEX, 0.35, colour, 1);
    };
  for (const PixelRegion & r : labelRegions(labels, width, height)) {
    if (r.id >= objects.size() || objects[r.id].semantic_class.empty()) {
      continue;
    }
    cv::rectangle(picture, cv::Rect(r.u_min, r.v_min, r.width(), r.height()),
      cv::Scalar(0, 220, 0), 1);
    text(objects[r.id].name, cv::Point(r.u_min, r.v_min - 3), cv::Scalar(0, 255, 0));
  }
  for (const orvix::model::ModelDetection & d : detections) {
    char label[64];
    std::snprintf(label, sizeof(label), "%s %.2f", className(classes, d.class_id).c_str(),
      d.score);
    text(label, cv::Point(static_cast<int>(d.x), static_cast<int>(d.y + d.height) + 11),
      cv::Scalar(255, 0, 255));
  }
  return picture;
}

}  // namespace nimbra_demo_scene
