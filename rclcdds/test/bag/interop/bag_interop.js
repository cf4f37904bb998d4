// Reads and writes rosbag2 bags with independent implementations, for rclcdds's bag process
// test:
//   node bag_interop.js read-db3 FILE        @foxglove/rosbag2-web (sql.js) decodes every message
//   node bag_interop.js read-mcap FILE       @mcap/core (indexed when the file has a summary,
//                                            streamed otherwise) with CRC checks; messages decoded
//                                            from the schemas in the file
//   node bag_interop.js write-mcap OUT lz4|none summary|nosummary
// Readers print one JSON line per message and "total N" at the end; any failure exits 1.
"use strict";

const fs = require("fs");

const STRING_DEF = "string data\n";
const VECTOR3_DEF = "float64 x\nfloat64 y\nfloat64 z\n";

function summary(type, value) {
  if (type === "std_msgs/msg/String") return value.data;
  if (type === "sensor_msgs/msg/Image") {
    return `${value.width}x${value.height} ${value.encoding} ${value.header.frame_id} ${value.data.length}`;
  }
  if (type === "geometry_msgs/msg/Vector3") return `${value.x} ${value.y} ${value.z}`;
  return JSON.stringify(Object.keys(value));
}

function print(topic, type, time, value) {
  console.log(JSON.stringify({ topic, type, time: time.toString(), summary: summary(type, value) }));
}

async function readDb3(file) {
  const { Rosbag2 } = require("@foxglove/rosbag2");
  const { SqliteSqljs } = require("@foxglove/rosbag2-web");
  // sql.js would fetch() its WebAssembly file, which Node cannot do from a path: hand it the bytes.
  await SqliteSqljs.Initialize({
    wasmBinary: fs.readFileSync(require.resolve("@foxglove/sql.js/dist/sql-wasm.wasm")) });
  const bag = new Rosbag2([new SqliteSqljs(new Uint8Array(fs.readFileSync(file)))]);
  await bag.open();
  let total = 0;
  for await (const message of bag.readMessages()) {
    const time = BigInt(message.timestamp.sec) * 1000000000n + BigInt(message.timestamp.nsec);
    print(message.topic.name, message.topic.type, time, message.value);
    ++total;
  }
  await bag.close();
  console.log(`total ${total}`);
}

function decompressHandlers() {
  const fzstd = require("fzstd");
  const lz4 = require("lz4js");
  return {
    zstd: (buffer, size) => fzstd.decompress(buffer, new Uint8Array(Number(size))),
    lz4: (buffer, size) => Uint8Array.from(lz4.decompress(buffer, Number(size))),
  };
}

function decoderFor(schema) {
  const { parse } = require("@foxglove/rosmsg");
  const { MessageReader } = require("@foxglove/rosmsg2-serialization");
  const text = new TextDecoder().decode(schema.data);
  if (text.length === 0) throw new Error(`schema ${schema.name} carries no definition`);
  return new MessageReader(parse(text, { ros2: true }));
}

async function readMcap(file) {
  const { McapIndexedReader, McapStreamReader } = require("@mcap/core");
  const bytes = new Uint8Array(fs.readFileSync(file));
  const footerStart = bytes.length - 8 - 29;
  const view = new DataView(bytes.buffer, bytes.byteOffset);
  const hasSummary = footerStart > 8 && view.getBigUint64(footerStart + 9, true) !== 0n;
  const decoders = new Map();
  let total = 0;
  const show = (channel, schema, message) => {
    if (!decoders.has(schema.id)) decoders.set(schema.id, decoderFor(schema));
    print(channel.topic, schema.name, message.logTime, decoders.get(schema.id).readMessage(message.data));
    ++total;
  };
  const readable = {
    size: async () => BigInt(bytes.length),
    read: async (offset, size) => bytes.subarray(Number(offset), Number(offset + size)),
  };
  // The indexed reader finds messages through chunk indexes only: files without chunks stream.
  const reader = hasSummary ?
    await McapIndexedReader.Initialize({ readable, decompressHandlers: decompressHandlers() }) : undefined;
  if (reader !== undefined && reader.chunkIndexes.length > 0) {
    for await (const message of reader.readMessages({ validateCrcs: true })) {
      const channel = reader.channelsById.get(message.channelId);
      show(channel, reader.schemasById.get(channel.schemaId), message);
    }
    console.log("reader indexed");
  } else {
    const stream = new McapStreamReader({ decompressHandlers: decompressHandlers(), validateCrcs: true });
    stream.append(bytes);
    const schemas = new Map();
    const channels = new Map();
    for (let record; (record = stream.nextRecord()); ) {
      if (record.type === "Schema") schemas.set(record.id, record);
      else if (record.type === "Channel") channels.set(record.id, record);
      else if (record.type === "Message") {
        const channel = channels.get(record.channelId);
        show(channel, schemas.get(channel.schemaId), record);
      }
    }
    if (!stream.done()) throw new Error("stream reader did not reach the end of the file");
    console.log("reader stream");
  }
  console.log(`total ${total}`);
}

const QOS_RELIABLE =
  "- history: 3\n  depth: 0\n  reliability: 1\n  durability: 2\n  deadline:\n    sec: 9223372036\n" +
  "    nsec: 854775807\n  lifespan:\n    sec: 9223372036\n    nsec: 854775807\n  liveliness: 1\n" +
  "  liveliness_lease_duration:\n    sec: 9223372036\n    nsec: 854775807\n" +
  "  avoid_ros_namespace_conventions: false";

async function writeMcap(out, compression, summary) {
  const { McapWriter } = require("@mcap/core");
  const { parse } = require("@foxglove/rosmsg");
  const { MessageWriter } = require("@foxglove/rosmsg2-serialization");
  const lz4 = require("lz4js");
  const chunks = [];
  let position = 0n;
  const writable = {
    position: () => position,
    write: async (buffer) => { chunks.push(Buffer.from(buffer)); position += BigInt(buffer.byteLength); },
  };
  const writer = new McapWriter({
    writable,
    useChunks: true,
    chunkSize: 64,
    useSummaryOffsets: summary,
    useStatistics: summary,
    useChunkIndex: summary,
    useMessageIndex: summary,
    repeatSchemas: summary,
    repeatChannels: summary,
    compressChunk: compression === "lz4" ?
      (data) => ({ compression: "lz4", compressedData: Uint8Array.from(lz4.compress(data)) }) : undefined,
  });
  await writer.start({ profile: "ros2", library: "bag_interop.js" });
  const encoder = new TextEncoder();
  const stringSchema = await writer.registerSchema({ name: "std_msgs/msg/String", encoding: "ros2msg", data: encoder.encode(STRING_DEF) });
  const vectorSchema = await writer.registerSchema({ name: "geometry_msgs/msg/Vector3", encoding: "ros2msg", data: encoder.encode(VECTOR3_DEF) });
  const metadata = new Map([["offered_qos_profiles", QOS_RELIABLE]]);
  const channels = [
    await writer.registerChannel({ topic: "/js/chatter", schemaId: stringSchema, messageEncoding: "cdr", metadata }),
    await writer.registerChannel({ topic: "/js/vector", schemaId: vectorSchema, messageEncoding: "cdr", metadata }),
  ];
  // Five strings on /js/chatter and five vectors on /js/vector, 10 ms apart, CDR written by
  // @foxglove/rosmsg2-serialization.
  const stringWriter = new MessageWriter(parse(STRING_DEF, { ros2: true }));
  const vectorWriter = new MessageWriter(parse(VECTOR3_DEF, { ros2: true }));
  let sequence = 0;
  const add = (channelId, time, data) =>
    writer.addMessage({ channelId, sequence: sequence++, logTime: time, publishTime: time, data });
  for (let i = 0; i < 5; ++i) {
    const time = 1700000000000000000n + BigInt(i) * 20000000n;
    await add(channels[0], time, stringWriter.writeMessage({ data: `js ${i}` }));
    await add(channels[1], time + 10000000n, vectorWriter.writeMessage({ x: i, y: i * 0.5, z: -i }));
  }
  await writer.end();
  fs.writeFileSync(out, Buffer.concat(chunks));
}

async function main() {
  const [mode, file, ...rest] = process.argv.slice(2);
  if (mode === "read-db3") await readDb3(file);
  else if (mode === "read-mcap") await readMcap(file);
  else if (mode === "write-mcap") await writeMcap(file, rest[0], rest[1] !== "nosummary");
  else throw new Error(`unknown mode ${mode}`);
}

main().catch((error) => {
  console.error(`bag_interop.js: ${error.stack || error}`);
  process.exit(1);
});
