#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "nimbra_model_zoo/model_error.hpp"
#include "nimbra_model_zoo/yolov8_seg_config.hpp"

namespace orvix::model {
namespace {

YOLOv8SegConfig Read(std::string const& yaml, std::string const& file = "/robot/config/meta.yaml") {
  return YOLOv8SegConfig::FromYaml(YAML::Load(yaml), file);
}

TEST(YOLOv8SegConfig, ReadsEveryKeyAndTheTargetFollowsTheBackendWhenAbsent) {
  YOLOv8SegConfig const c = Read(
      "model_file: /models/seg.onnx\ninput_width: 320\ninput_height: 256\n"
      "score_threshold: 0.3\nnms_threshold: 0.6\nmask_threshold: 0.4\nmax_detections: 20\n"
      "backend: cuda\ntarget: cuda_fp16\n");
  EXPECT_EQ(std::tie(c.model_file, c.input_width, c.input_height, c.score_threshold,
                     c.nms_threshold, c.mask_threshold, c.max_detections, c.backend, c.target),
            std::make_tuple(std::string("/models/seg.onnx"), 320, 256, 0.3F, 0.6F, 0.4F, 20,
                            std::string("cuda"), std::string("cuda_fp16")));
  EXPECT_EQ(Read("model_file: a.onnx\nbackend: cuda\n").target, "cuda");
  EXPECT_EQ(Read("model_file: a.onnx\nbackend: opencv\n").target, "cpu");
}

TEST(YOLOv8SegConfig, ModelFileResolvesAgainstTheDescriptionDirectory) {
  struct Case {
    std::string model_file;
    std::string description_file;
    std::string resolved;
  };
  for (Case const& c : {Case{"seg.onnx", "/cfg/meta.yaml", "/cfg/seg.onnx"},
                        Case{"../models/seg.onnx", "/cfg/ai/meta.yaml", "/cfg/models/seg.onnx"},
                        Case{"/abs/seg.onnx", "/cfg/meta.yaml", "/abs/seg.onnx"},
                        Case{"models/seg.onnx", "cfg/meta.yaml", "cfg/models/seg.onnx"},
                        Case{"seg.onnx", "meta.yaml", "seg.onnx"},
                        Case{"seg.onnx", "", "seg.onnx"}}) {
    EXPECT_EQ(Read("model_file: " + c.model_file + "\n", c.description_file).model_file, c.resolved)
        << c.model_file << " in " << c.description_file;
  }
}

TEST(YOLOv8SegConfig, BadKeysThrowNamingFileKeyAndExpectation) {
  struct BadKey {
    std::string yaml;  ///< lines added to a valid description
    std::string key;   ///< key the message must name
    std::string hint;  ///< further text the message must hold
  };
  for (BadKey const& c :
       {BadKey{"model_name: yolov8_seg\n", "model_file", "is missing"},
        BadKey{"model_file: ''\n", "model_file", "is empty"},
        BadKey{"model_file: {a: 1}\n", "model_file", "not a scalar"},
        BadKey{"input_width: wide\n", "input_width", "an integer"},
        BadKey{"input_width: 1.5\n", "input_width", "an integer"},
        BadKey{"input_height: 0\n", "input_height", "from 1 to 8192"},
        BadKey{"input_height: [640]\n", "input_height", "not a scalar"},
        BadKey{"score_threshold: high\n", "score_threshold", "a number from 0 to 1"},
        BadKey{"score_threshold: 1.5\n", "score_threshold", "a number from 0 to 1"},
        BadKey{"nms_threshold: .nan\n", "nms_threshold", "a number from 0 to 1"},
        BadKey{"mask_threshold: -0.1\n", "mask_threshold", "a number from 0 to 1"},
        BadKey{"max_detections: 0\n", "max_detections", "an integer"},
        BadKey{"backend: tpu\n", "backend", "\"opencv\", \"cuda\""},
        BadKey{"target: cuda\n", "target", "with backend \"opencv\""},
        BadKey{"backend: cuda\ntarget: cpu\n", "target", "with backend \"cuda\""}}) {
    std::string const yaml = (c.key == "model_file" ? "" : "model_file: seg.onnx\n") + c.yaml;
    try {
      Read(yaml);
      ADD_FAILURE() << "no error for:\n" << yaml;
    } catch (ModelError const& e) {
      std::string const what = e.what();
      EXPECT_NE(what.find("/robot/config/meta.yaml"), std::string::npos) << what;
      EXPECT_NE(what.find("'" + c.key + "'"), std::string::npos) << what;
      EXPECT_NE(what.find(c.hint), std::string::npos) << what;
    }
  }
  EXPECT_THROW(Read("- model_file\n"), ModelError);
  EXPECT_THROW(Read(""), ModelError);
  try {
    YOLOv8SegConfig::FromYaml(YAML::Load("input_width: 3\n"));
    ADD_FAILURE();
  } catch (ModelError const& e) {
    EXPECT_EQ(std::string(e.what()),
              "model description: key 'model_file' is missing; expected the path of an ONNX file");
  }
}

}  // namespace
}  // namespace orvix::model
