// CDR serialisation and deserialisation throughput of the two heavy message types, beside a
// plain memcpy of the same bytes (the "memcpy class" reference). Prints bytes/s per case.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include <sensor_msgs/msg/image.hpp>
#include <sensor_msgs/msg/point_cloud2.hpp>

#include "rclcdds/serialization.hpp"

namespace
{

sensor_msgs::msg::Image depth_image()
{
  sensor_msgs::msg::Image image;
  image.header.frame_id = "camera_depth_optical_frame";
  image.width = 640;
  image.height = 480;
  image.encoding = "16UC1";
  image.step = 1280;
  image.data.resize(640 * 480 * 2);
  for (size_t i = 0; i < image.data.size(); ++i) {
    image.data[i] = static_cast<uint8_t>(i * 31);
  }
  return image;
}

sensor_msgs::msg::PointCloud2 cloud_100k()
{
  sensor_msgs::msg::PointCloud2 cloud;
  cloud.header.frame_id = "base_footprint";
  cloud.height = 1;
  cloud.width = 100000;
  const char * names[] = {"x", "y", "z", "rgb"};
  for (uint32_t i = 0; i < 4; ++i) {
    sensor_msgs::msg::PointField field;
    field.name = names[i];
    field.offset = 4 * i;
    field.datatype = sensor_msgs::msg::PointField::FLOAT32;
    field.count = 1;
    cloud.fields.push_back(field);
  }
  cloud.point_step = 16;
  cloud.row_step = 16 * cloud.width;
  cloud.data.resize(static_cast<size_t>(cloud.row_step));
  for (size_t i = 0; i < cloud.data.size(); ++i) {
    cloud.data[i] = static_cast<uint8_t>(i * 17);
  }
  cloud.is_dense = true;
  return cloud;
}

template<class T>
void serialize_case(benchmark::State & state, const T & msg)
{
  const auto & members = rclcdds::get_message_members<T>();
  rclcdds::SerializedMessage out;
  for (auto _ : state) {
    rclcdds::serialize_message(members, &msg, out);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

template<class T>
void deserialize_case(benchmark::State & state, const T & msg)
{
  const auto & members = rclcdds::get_message_members<T>();
  rclcdds::SerializedMessage wire;
  rclcdds::serialize_message(members, &msg, wire);
  for (auto _ : state) {
    T decoded;  // a fresh message per sample, as a subscription does
    if (!rclcdds::deserialize_message(members, wire.data(), wire.size(), &decoded)) {
      state.SkipWithError("deserialisation failed");
      break;
    }
    benchmark::DoNotOptimize(decoded);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * wire.size()));
}

/// Reference: copy the same number of bytes into a freshly allocated vector.
void memcpy_case(benchmark::State & state, size_t bytes)
{
  std::vector<uint8_t> source(bytes, 0x5a);
  for (auto _ : state) {
    std::vector<uint8_t> copy(source.begin(), source.end());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_SerializeImage640x480(benchmark::State & state) {serialize_case(state, depth_image());}
void BM_DeserializeImage640x480(benchmark::State & state) {deserialize_case(state, depth_image());}
void BM_MemcpyImage640x480(benchmark::State & state) {memcpy_case(state, 640 * 480 * 2);}
void BM_SerializeCloud100k(benchmark::State & state) {serialize_case(state, cloud_100k());}
void BM_DeserializeCloud100k(benchmark::State & state) {deserialize_case(state, cloud_100k());}
void BM_MemcpyCloud100k(benchmark::State & state) {memcpy_case(state, 100000 * 16);}

}  // namespace

BENCHMARK(BM_SerializeImage640x480);
BENCHMARK(BM_DeserializeImage640x480);
BENCHMARK(BM_MemcpyImage640x480);
BENCHMARK(BM_SerializeCloud100k);
BENCHMARK(BM_DeserializeCloud100k);
BENCHMARK(BM_MemcpyCloud100k);
BENCHMARK_MAIN();
