-- A rosbag2 sqlite3 file laid out as ROS 2 Humble's sqlite3 storage writes it (schema version 3),
-- written by hand: two topics, four CDR messages, rows not in time order.
PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE schema(schema_version INTEGER PRIMARY KEY,ros_distro TEXT NOT NULL);
INSERT INTO schema VALUES(3,'humble');
CREATE TABLE metadata(id INTEGER PRIMARY KEY,metadata_version INTEGER NOT NULL,metadata TEXT NOT NULL);
CREATE TABLE topics(id INTEGER PRIMARY KEY,name TEXT NOT NULL,type TEXT NOT NULL,serialization_format TEXT NOT NULL,offered_qos_profiles TEXT NOT NULL);
INSERT INTO topics VALUES(1,'/chatter','std_msgs/msg/String','cdr',replace('- history: 3\n  depth: 0\n  reliability: 1\n  durability: 2\n  deadline:\n    sec: 9223372036\n    nsec: 854775807\n  lifespan:\n    sec: 9223372036\n    nsec: 854775807\n  liveliness: 1\n  liveliness_lease_duration:\n    sec: 9223372036\n    nsec: 854775807\n  avoid_ros_namespace_conventions: false','\n',char(10)));
INSERT INTO topics VALUES(2,'/flag','std_msgs/msg/Bool','cdr',replace('- history: 3\n  depth: 0\n  reliability: 2\n  durability: 2\n  deadline:\n    sec: 9223372036\n    nsec: 854775807\n  lifespan:\n    sec: 9223372036\n    nsec: 854775807\n  liveliness: 1\n  liveliness_lease_duration:\n    sec: 9223372036\n    nsec: 854775807\n  avoid_ros_namespace_conventions: false','\n',char(10)));
CREATE TABLE messages(id INTEGER PRIMARY KEY,topic_id INTEGER NOT NULL,timestamp INTEGER NOT NULL,data BLOB NOT NULL);
INSERT INTO messages VALUES(1,1,1700000000000000000,X'000100000600000068656C6C6F000000');
INSERT INTO messages VALUES(2,2,1700000000500000000,X'0001000001000000');
INSERT INTO messages VALUES(3,1,1700000000250000000,X'0001000007000000776F726C64210000');
INSERT INTO messages VALUES(4,2,1700000001000000000,X'0001000000000000');
CREATE INDEX timestamp_idx ON messages (timestamp ASC);
COMMIT;
