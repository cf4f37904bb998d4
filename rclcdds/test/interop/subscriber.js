// Independent ROS 2 subscriber (@foxglove/ros2 over @foxglove/rtps) for the interoperability
// tests. Usage: node subscriber.js INTERFACES_DIR TIMEOUT_MS TOPIC=pkg/Name...
// Subscribes to the given topics, decodes each first message with definitions parsed from our
// .msg files and prints it flattened, one "topic path=value" line per field.
"use strict";

const fs = require("fs");
const path = require("path");
const { RosNode } = require("@foxglove/ros2");
const { UdpSocketNode } = require("@foxglove/ros2/nodejs");
const { parse } = require("@foxglove/rosmsg");

const interfacesDir = process.argv[2];
const timeoutMs = Number(process.argv[3] || 20000);

// Finds pkg/msg/Name.msg anywhere under the interfaces directory.
function findMsgFile(pkg, name) {
  for (const root of [path.join(interfacesDir, pkg), path.join(interfacesDir, "ros_std", pkg)]) {
    const file = path.join(root, "msg", `${name}.msg`);
    if (fs.existsSync(file)) return file;
  }
  throw new Error(`no definition for ${pkg}/${name}`);
}

const PRIMITIVES = new Set(["bool", "byte", "char", "float32", "float64", "int8", "uint8",
  "int16", "uint16", "int32", "uint32", "int64", "uint64", "string", "wstring"]);

// Full definition text of pkg/Name with its dependencies in "MSG: pkg/Name" sections.
function definitionText(rootPkg, rootName) {
  const sections = [];
  const seen = new Set();
  const visit = (pkg, name, isRoot) => {
    const key = `${pkg}/${name}`;
    if (seen.has(key)) return;
    seen.add(key);
    const lines = [];
    const deps = [];
    for (const raw of fs.readFileSync(findMsgFile(pkg, name), "utf8").split("\n")) {
      const line = raw.replace(/#.*$/, "").trim();
      if (line === "") continue;
      const [type, ...rest] = line.split(/\s+/);
      const base = type.replace(/\[.*\]$/, "").replace(/<=\d+$/, "");
      if (PRIMITIVES.has(base) || rest.join(" ").includes("=")) {
        lines.push(line);
        continue;
      }
      const [depPkg, depName] = base.includes("/") ? base.split("/") : [pkg, base];
      lines.push(`${depPkg}/${depName}${type.slice(base.length)} ${rest.join(" ")}`);
      deps.push([depPkg, depName]);
    }
    sections.push((isRoot ? "" : `MSG: ${key}\n`) + lines.join("\n"));
    for (const [depPkg, depName] of deps) visit(depPkg, depName, false);
  };
  visit(rootPkg, rootName, true);
  return sections.join("\n================================================================================\n");
}

function fnv1a(bytes) {
  let hash = 0x811c9dc5;
  for (const b of bytes) {
    hash ^= b;
    hash = Math.imul(hash, 0x01000193) >>> 0;
  }
  return hash.toString(16).padStart(8, "0");
}

// One "path=value" line per leaf; byte arrays as length and FNV-1a hash.
function flatten(value, prefix, out) {
  if (value instanceof Uint8Array || value instanceof Int8Array) {
    out.push(`${prefix}.length=${value.length}`);
    out.push(`${prefix}.fnv=${fnv1a(value)}`);
  } else if (ArrayBuffer.isView(value) || Array.isArray(value)) {
    out.push(`${prefix}.length=${value.length}`);
    Array.from(value).forEach((item, i) => flatten(item, `${prefix}[${i}]`, out));
  } else if (value !== null && typeof value === "object") {
    for (const [key, item] of Object.entries(value)) {
      flatten(item, `${prefix}.${key === "nsec" ? "nanosec" : key}`, out);
    }
  } else {
    out.push(`${prefix}=${String(value)}`);
  }
}

async function main() {
  const node = new RosNode({
    name: "foxglove_interop",
    domainId: Number(process.env.ROS_DOMAIN_ID || 0),
    udpSocketCreate: UdpSocketNode.Create,
    addresses: ["127.0.0.1"],
  });
  await node.start();
  const topics = process.argv.slice(4).map((arg) => {
    const [topic, type] = arg.split("=");
    const [pkg, name] = type.split("/");
    return [topic, pkg, name];
  });
  const pending = new Set(topics.map((t) => t[0]));
  const done = new Promise((resolve) => {
    for (const [topic, pkg, name] of topics) {
      const msgDefinition = parse(definitionText(pkg, name), { ros2: true });
      const sub = node.subscribe({ topic, dataType: `${pkg}/msg/${name}`, msgDefinition });
      sub.on("message", (_timestamp, msg, data) => {
        if (!pending.has(topic)) return;
        pending.delete(topic);
        const lines = [];
        flatten(msg, "msg", lines);
        console.log(`${topic} bytes=${data.length}`);
        for (const line of lines) console.log(`${topic} ${line}`);
        if (pending.size === 0) resolve();
      });
    }
  });
  const timer = new Promise((resolve) => setTimeout(resolve, timeoutMs));
  await Promise.race([done, timer]);
  await node.shutdown();
  if (pending.size > 0) {
    console.log(`missing ${[...pending].join(" ")}`);
    process.exit(1);
  }
  console.log("all received");
  process.exit(0);
}

main().catch((err) => {
  console.error(err);
  process.exit(2);
});
