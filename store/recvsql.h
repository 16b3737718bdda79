#pragma once

// Statement texts of the received-message store, in one place so that the
// store and the checks of its query plans read the same text.
namespace RecvSql {

// Row conditions shared by every statement that picks, counts or expires
// messages waiting to be forwarded: received messages whose user data is
// text (sms_text, set at insert from the data coding). The lookup indexes
// below repeat them word for word: SQLite uses a partial index only when the
// query names its terms.
#define VLSMS_FORWARDABLE "sms_recvtype=0 AND sms_text=1 AND hd_flag=0"
// Waiting messages whose text flag nobody has set yet: written by a program
// that does not know the column, or before it existed.
#define VLSMS_UNJUDGED "sms_recvtype=0 AND hd_flag=0 AND sms_text IS NULL"

inline constexpr const char* connName = "VLSMSDB";
inline constexpr const char* fileName = "/sms-r.db";

inline constexpr const char* createTable =
    "CREATE TABLE t_recv (tow_id INTEGER PRIMARY KEY AUTOINCREMENT, tow_ver INTEGER DEFAULT 0, tow_type "
    "INTEGER "
    "DEFAULT 0, tow_date INTEGER DEFAULT 0, port_no TEXT NOT NULL, dev_no TEXT NOT NULL, sim_no TEXT NOT "
    "NULL, "
    "recv_time INTEGER NOT NULL, txt_pdu TEXT NOT NULL, hd_flag INTEGER DEFAULT 0, hd_time INTEGER DEFAULT "
    "0, "
    "sms_recvtype INTEGER DEFAULT 0, sms_pid INTEGER DEFAULT 0, sms_sender TEXT, sms_stamp TEXT, "
    "sms_codegroup "
    "INTEGER DEFAULT 0, sms_codetype INTEGER DEFAULT 0, sms_part_type INTEGER DEFAULT 0, sms_part_id TEXT, "
    "sms_part_index INTEGER DEFAULT 0, sms_part_count INTEGER DEFAULT 1, sms_userdata_head TEXT, "
    "sms_userdata_value TEXT)";
inline constexpr const char* createUnique = "CREATE UNIQUE INDEX t_recv_un1 ON t_recv (sim_no,txt_pdu)";
// A file whose first start failed half-way may lack the unique index; without
// it every message read twice off a SIM would be forwarded twice.
inline constexpr const char* ensureUnique =
    "CREATE UNIQUE INDEX IF NOT EXISTS t_recv_un1 ON t_recv (sim_no,txt_pdu)";

// The column that says a message is text to forward: 1 or 0 once judged,
// NULL ("not yet judged") for a row written by a program that does not set
// it. Added once to every file, without a default.
inline constexpr const char* textDefault =
    "SELECT count(*) AS num, max(dflt_value IS NOT NULL) AS fixed FROM pragma_table_info('t_recv') "
    "WHERE name='sms_text'";
inline constexpr const char* addTextColumn = "ALTER TABLE t_recv ADD COLUMN sms_text INTEGER";
// Files made before the column had no default got it with DEFAULT 0, so a
// row an older program wrote into them reads as judged "not text". The
// default goes, in the table's definition only (SQLite's documented way to
// change a column's default: no row is rewritten, whatever the size of the
// file), and the waiting rows holding 0 are judged again.
inline constexpr const char* dropTextDefault =
    "UPDATE sqlite_master SET sql=replace(sql,'sms_text INTEGER DEFAULT 0','sms_text INTEGER') "
    "WHERE type='table' AND name='t_recv' AND instr(sql,'sms_text INTEGER DEFAULT 0')>0";
inline constexpr const char* rejudgeWaiting =
    "UPDATE t_recv SET sms_text=NULL WHERE sms_recvtype=0 AND hd_flag=0 AND sms_text=0";
// Indexes of the rule before the column, replaced by those below.
inline constexpr const char* dropWaitBeforeText = "DROP INDEX IF EXISTS t_recv_ix_wait";
inline constexpr const char* dropPartsBeforeText = "DROP INDEX IF EXISTS t_recv_ix_part";
// The rows to judge, from their stored PDU, a bounded number at a time.
inline constexpr const char* indexUnjudged =
    "CREATE INDEX IF NOT EXISTS t_recv_ix_unjudged ON t_recv (tow_id) WHERE " VLSMS_UNJUDGED;
inline constexpr const char* pickUnjudged =
    "SELECT tow_id, txt_pdu FROM t_recv WHERE " VLSMS_UNJUDGED " AND tow_id>? ORDER BY tow_id LIMIT ?";
inline constexpr const char* setJudged = "UPDATE t_recv SET sms_text=? WHERE tow_id=?";
inline constexpr const char* setUndecodable = "UPDATE t_recv SET sms_text=0, hd_flag=11 WHERE tow_id=?";

// Lookup structures, added to new and existing files alike. The table and its
// unique index stay as they are; these only make the frequent questions
// independent of the number of forwarded rows. The newest received row needs
// none: a walk from the newest row back stops at the first message. An index
// on the message type would mislead the query planner into walking every
// received row for the waiting-row questions.
// Waiting rows by kind: the oldest single, and the count of waiting rows.
inline constexpr const char* indexWait =
    "CREATE INDEX IF NOT EXISTS t_recv_ix_wait ON t_recv (sms_part_type) WHERE " VLSMS_FORWARDABLE;
// Waiting parts by group key: completeness, reading a group and expiry.
inline constexpr const char* indexParts =
    "CREATE INDEX IF NOT EXISTS t_recv_ix_part ON t_recv (sim_no,sms_sender,sms_part_id,sms_part_count,"
    "sms_part_index) WHERE " VLSMS_FORWARDABLE " AND sms_part_type<>0";
// Undecodable messages, counted on every tick.
inline constexpr const char* indexUndecodable =
    "CREATE INDEX IF NOT EXISTS t_recv_ix_bad ON t_recv (hd_flag) WHERE hd_flag=11";
// The newest forwarding time.
inline constexpr const char* indexDone =
    "CREATE INDEX IF NOT EXISTS t_recv_ix_done ON t_recv (hd_time) WHERE sms_recvtype=0 AND hd_flag=1";
// The number of received messages, kept up to date by triggers so that it
// needs no count over the table. Seeded once from the table, when it has no
// row yet: the count walks every row.
inline constexpr const char* createTotal =
    "CREATE TABLE IF NOT EXISTS t_recv_total (id INTEGER PRIMARY KEY CHECK (id=1), num INTEGER NOT NULL)";
inline constexpr const char* hasTotal = "SELECT count(*) AS num FROM t_recv_total";
inline constexpr const char* seedTotal =
    "INSERT INTO t_recv_total (id,num) SELECT 1, count(tow_id) FROM t_recv WHERE sms_recvtype=0";
inline constexpr const char* triggerTotalInsert =
    "CREATE TRIGGER IF NOT EXISTS t_recv_total_ins AFTER INSERT ON t_recv WHEN new.sms_recvtype=0 "
    "BEGIN UPDATE t_recv_total SET num=num+1 WHERE id=1; END";
inline constexpr const char* triggerTotalDelete =
    "CREATE TRIGGER IF NOT EXISTS t_recv_total_del AFTER DELETE ON t_recv WHEN old.sms_recvtype=0 "
    "BEGIN UPDATE t_recv_total SET num=num-1 WHERE id=1; END";
inline constexpr const char* triggerTotalUpdate =
    "CREATE TRIGGER IF NOT EXISTS t_recv_total_upd AFTER UPDATE OF sms_recvtype ON t_recv "
    "WHEN (old.sms_recvtype=0) <> (new.sms_recvtype=0) "
    "BEGIN UPDATE t_recv_total SET num=num+(CASE WHEN new.sms_recvtype=0 THEN 1 ELSE -1 END) WHERE id=1; END";

inline constexpr const char* insertRaw =
    "INSERT INTO t_recv (port_no,dev_no,sim_no,txt_pdu,recv_time,sms_recvtype,sms_text) VALUES "
    "(?,?,?,?,?,?,0)";
inline constexpr const char* insertDecoded =
    "INSERT INTO t_recv (port_no,dev_no,sim_no,txt_pdu,recv_time,sms_recvtype,sms_pid,sms_sender,sms_stamp,"
    "sms_codegroup,sms_codetype,sms_part_type,sms_part_id,sms_part_index,sms_part_count,sms_userdata_head,"
    "sms_userdata_value,sms_text) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
// A message whose PDU cannot be decoded: kept as it came, with hd_flag 11 so
// that nothing forwards it and it can be counted.
inline constexpr const char* insertUndecodable =
    "INSERT INTO t_recv (port_no,dev_no,sim_no,txt_pdu,recv_time,sms_recvtype,hd_flag,sms_text) VALUES "
    "(?,?,?,?,?,?,11,0)";
inline constexpr const char* countUndecodable = "SELECT count(tow_id) AS num FROM t_recv WHERE hd_flag=11";
inline constexpr const char* isStored = "SELECT tow_id FROM t_recv WHERE sim_no=? AND txt_pdu=?";

inline constexpr const char* countAll = "SELECT num FROM t_recv_total WHERE id=1";
inline constexpr const char* countAllScan = "SELECT count(tow_id) AS num FROM t_recv WHERE sms_recvtype=0";
inline constexpr const char* countPending =
    "SELECT count(tow_id) AS num FROM t_recv WHERE " VLSMS_FORWARDABLE;
inline constexpr const char* lastSender =
    "SELECT sms_sender FROM t_recv WHERE sms_recvtype=0 ORDER BY tow_id DESC limit 1";
inline constexpr const char* lastRecvTime =
    "SELECT recv_time FROM t_recv WHERE sms_recvtype=0 ORDER BY tow_id DESC limit 1";
inline constexpr const char* lastHandledTime = "SELECT hd_time FROM t_recv WHERE sms_recvtype=0 AND "
                                               "hd_flag=1 ORDER BY hd_time DESC, tow_id DESC limit 1";

inline constexpr const char* firstSingle =
    "SELECT tow_id FROM t_recv WHERE " VLSMS_FORWARDABLE " AND sms_part_type=0 ORDER BY tow_id LIMIT 1";
// A group is the waiting parts of one SIM and sender under one reference and
// part count: networks reuse references, so the reference alone can join two
// different messages.
inline constexpr const char* firstCompleteGroup =
    "SELECT MIN(tow_id) AS xid, sim_no, sms_sender, sms_part_id, sms_part_count, "
    "COUNT(DISTINCT(sms_part_index)) AS num FROM t_recv WHERE " VLSMS_FORWARDABLE " AND sms_part_type<>0 "
    "GROUP BY sim_no, sms_sender, sms_part_id, sms_part_count HAVING num>=sms_part_count ORDER BY xid LIMIT "
    "1";
inline constexpr const char* readSingle =
    "SELECT port_no,sim_no,recv_time,sms_sender,sms_stamp,sms_userdata_value,sms_codetype,txt_pdu "
    "FROM t_recv WHERE tow_id=?";
// One row per part index, the first stored copy of a part sent twice, in
// ascending index order.
inline constexpr const char* readGroup =
    "SELECT MIN(tow_id) AS tow_id, port_no,sim_no,recv_time,sms_sender,sms_stamp,sms_userdata_value,"
    "sms_codetype, sms_part_index,sms_part_count,txt_pdu FROM t_recv WHERE " VLSMS_FORWARDABLE
    " AND sms_part_type<>0 AND sim_no=? AND sms_sender IS ? AND sms_part_id IS ? AND sms_part_count=? "
    "GROUP BY sms_part_index ORDER BY sms_part_index";
// The same two questions for a batch: the oldest singles and the oldest
// complete groups, each up to a number of rows.
inline constexpr const char* firstSingles =
    "SELECT tow_id FROM t_recv WHERE " VLSMS_FORWARDABLE " AND sms_part_type=0 ORDER BY tow_id LIMIT ?";
inline constexpr const char* firstCompleteGroups =
    "SELECT MIN(tow_id) AS xid, sim_no, sms_sender, sms_part_id, sms_part_count, "
    "COUNT(DISTINCT(sms_part_index)) AS num FROM t_recv WHERE " VLSMS_FORWARDABLE " AND sms_part_type<>0 "
    "GROUP BY sim_no, sms_sender, sms_part_id, sms_part_count HAVING num>=sms_part_count ORDER BY xid LIMIT "
    "?";
inline constexpr const char* markHandled = "UPDATE t_recv SET hd_flag=?, hd_time=? WHERE tow_id=?";
inline constexpr const char* expireParts = "UPDATE t_recv SET hd_flag=9, hd_time=? WHERE (?-recv_time)>3600 "
                                           "AND sms_part_type<>0 AND " VLSMS_FORWARDABLE;

// Messages the server refused (flag 10), counted as messages: a single row
// each, and one per group of parts. The partial index holds only those rows,
// so the count costs nothing while there are none.
#define VLSMS_FAILED "sms_recvtype=0 AND hd_flag=10"
inline constexpr const char* indexFailed =
    "CREATE INDEX IF NOT EXISTS t_recv_ix_failed ON t_recv (sms_part_type,sim_no,sms_sender,sms_part_id,"
    "sms_part_count) WHERE " VLSMS_FAILED;
inline constexpr const char* countFailed =
    "SELECT (SELECT count(*) FROM t_recv WHERE " VLSMS_FAILED " AND sms_part_type=0) + "
    "(SELECT count(*) FROM (SELECT DISTINCT sim_no,sms_sender,sms_part_id,sms_part_count FROM t_recv "
    "WHERE " VLSMS_FAILED " AND sms_part_type<>0)) AS num";
// Back into the queue: waiting again, as when they arrived.
inline constexpr const char* requeueFailed = "UPDATE t_recv SET hd_flag=0, hd_time=0 WHERE " VLSMS_FAILED;
#undef VLSMS_FAILED

#undef VLSMS_FORWARDABLE
#undef VLSMS_UNJUDGED

} // namespace RecvSql
