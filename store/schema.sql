-- The schema of the program's database. The build turns this file into the
-- template tpl/vendara2012.db; a first start copies the template. The program
-- never drops a table; it creates only the tables, indexes and columns a
-- database made from an older template lacks (store/DatabaseFile.h,
-- upgradeDatabase).
--
-- Reads are strict about value kinds, so the declared types matter: every
-- column read as an int has INTEGER affinity, every other one TEXT affinity.
-- `order_goods`.`item_id` is bound as text but read as an int; its INTEGER
-- affinity stores the digit strings as integers.
--
-- Text columns default to '' so that a row inserted without them still reads
-- back as an empty string rather than NULL.

CREATE TABLE `category` (
  `id`              INTEGER PRIMARY KEY AUTOINCREMENT,
  `name`            TEXT    DEFAULT '',
  `type`            INTEGER DEFAULT 0,
  `flg`             INTEGER DEFAULT 0,
  `tpl`             TEXT    DEFAULT '',
  `store_num`       INTEGER DEFAULT 0,
  `store_total_num` INTEGER DEFAULT 0,
  `ext`             TEXT    DEFAULT ''
);

CREATE TABLE `goods` (
  `url`     TEXT DEFAULT '',
  `item_id` TEXT DEFAULT '',
  `name`    TEXT DEFAULT '',
  `img_url` TEXT DEFAULT ''
);

CREATE TABLE `c_g_bind` (
  `item_id` TEXT    DEFAULT '',
  `cg_id`   INTEGER DEFAULT 0
);

-- Cards. A card is unsent while `send_order_id` is ''.
CREATE TABLE `items` (
  `id`            INTEGER PRIMARY KEY AUTOINCREMENT,
  `cg_id`         INTEGER DEFAULT 0,
  `data1`         TEXT    DEFAULT '',
  `data2`         TEXT    DEFAULT '',
  `data3`         TEXT    DEFAULT '',
  `send_order_id` TEXT    DEFAULT '',
  -- The import that brought the card (`import_batch`.`id`), 0 for cards
  -- added one by one. Added to older databases at start-up (upgradeDatabase).
  `batch`         INTEGER DEFAULT 0
);
-- Picking a category's first unsent cards stays fast on large stocks; within
-- one key the index keeps id order.
CREATE INDEX `items_cg_send` ON `items` (`cg_id`, `send_order_id`);
-- A category's cards in id order, from either end, without sorting: the web
-- UI's pages of a large stock.
CREATE INDEX `items_cg` ON `items` (`cg_id`);
-- The card import looks every new card up by number and password, so that a
-- card already in the stock is not added again. Added to older databases at
-- start-up (upgradeDatabase).
CREATE INDEX `items_data` ON `items` (`data1`, `data2`);

-- One row per import of cards (all its parts together): which category, when,
-- and how many lines it brought so far, so that one import can be undone and
-- its parts together stay under the line cap. Added to older databases at
-- start-up (upgradeDatabase).
CREATE TABLE `import_batch` (
  `id`    INTEGER PRIMARY KEY AUTOINCREMENT,
  `cg_id` INTEGER DEFAULT 0,
  `time`  INTEGER DEFAULT 0,
  `lines` INTEGER DEFAULT 0
);

-- Card counts per category (all cards, and unsent ones), kept exact by the
-- triggers below in the same transaction as every change of `items`, so that
-- the stock counters and the page count of a category with a million cards
-- are read instead of counted. A row with zero counts may stay behind.
CREATE TABLE `item_stock` (
  `cg_id`  INTEGER PRIMARY KEY,
  `total`  INTEGER NOT NULL DEFAULT 0,
  `unsent` INTEGER NOT NULL DEFAULT 0
);
CREATE TRIGGER `items_stock_insert` AFTER INSERT ON `items` BEGIN
  INSERT INTO `item_stock` (`cg_id`, `total`, `unsent`)
    SELECT new.`cg_id`, 1, new.`send_order_id` IS '' WHERE new.`cg_id` IS NOT NULL
    ON CONFLICT (`cg_id`) DO UPDATE SET `total` = `total` + 1, `unsent` = `unsent` + (new.`send_order_id` IS '');
END;
CREATE TRIGGER `items_stock_delete` AFTER DELETE ON `items` BEGIN
  UPDATE `item_stock` SET `total` = `total` - 1, `unsent` = `unsent` - (old.`send_order_id` IS '')
    WHERE `cg_id` = old.`cg_id`;
END;
CREATE TRIGGER `items_stock_update` AFTER UPDATE OF `cg_id`, `send_order_id` ON `items` BEGIN
  UPDATE `item_stock` SET `total` = `total` - 1, `unsent` = `unsent` - (old.`send_order_id` IS '')
    WHERE `cg_id` = old.`cg_id`;
  INSERT INTO `item_stock` (`cg_id`, `total`, `unsent`)
    SELECT new.`cg_id`, 1, new.`send_order_id` IS '' WHERE new.`cg_id` IS NOT NULL
    ON CONFLICT (`cg_id`) DO UPDATE SET `total` = `total` + 1, `unsent` = `unsent` + (new.`send_order_id` IS '');
END;

-- Card counts per category per range of 1024 ids (`bucket` = id >> 10), kept
-- exact by the triggers below in the same transaction as every change of
-- `items`: a page deep inside a large category finds the range holding its
-- first card by adding up these counts, and skips fewer than 1024 cards
-- inside it instead of every card before it. A row with a zero count may stay
-- behind. Added to older databases at start-up (upgradeDatabase).
CREATE TABLE `item_pages` (
  `cg_id`  INTEGER NOT NULL,
  `bucket` INTEGER NOT NULL,
  `total`  INTEGER NOT NULL DEFAULT 0,
  PRIMARY KEY (`cg_id`, `bucket`)
) WITHOUT ROWID;
CREATE TRIGGER `items_pages_insert` AFTER INSERT ON `items` WHEN new.`cg_id` IS NOT NULL BEGIN
  INSERT INTO `item_pages` (`cg_id`, `bucket`, `total`) VALUES (new.`cg_id`, new.`id` >> 10, 1)
    ON CONFLICT (`cg_id`, `bucket`) DO UPDATE SET `total` = `total` + 1;
END;
CREATE TRIGGER `items_pages_delete` AFTER DELETE ON `items` WHEN old.`cg_id` IS NOT NULL BEGIN
  UPDATE `item_pages` SET `total` = `total` - 1 WHERE `cg_id` = old.`cg_id` AND `bucket` = old.`id` >> 10;
END;
CREATE TRIGGER `items_pages_update` AFTER UPDATE OF `cg_id`, `id` ON `items`
    WHEN old.`cg_id` IS NOT new.`cg_id` OR old.`id` IS NOT new.`id` BEGIN
  UPDATE `item_pages` SET `total` = `total` - 1 WHERE `cg_id` = old.`cg_id` AND `bucket` = old.`id` >> 10;
  INSERT INTO `item_pages` (`cg_id`, `bucket`, `total`)
    SELECT new.`cg_id`, new.`id` >> 10, 1 WHERE new.`cg_id` IS NOT NULL
    ON CONFLICT (`cg_id`, `bucket`) DO UPDATE SET `total` = `total` + 1;
END;

CREATE TABLE `orders` (
  `id`           INTEGER PRIMARY KEY AUTOINCREMENT,
  `order_id`     TEXT    DEFAULT '',
  `order_url`    TEXT    DEFAULT '',
  `time`         INTEGER DEFAULT 0,
  `alipay_id`    TEXT    DEFAULT '',
  `status`       INTEGER DEFAULT 0,
  `order_status` INTEGER DEFAULT 0,
  `buyer`        TEXT    DEFAULT '',
  `buyer_email`  TEXT    DEFAULT '',
  `buyer_ww`     TEXT    DEFAULT '',
  `text_msg`     TEXT    DEFAULT '',
  `send_msg`     TEXT    DEFAULT ''
);
-- A marketplace order is recorded once, however often it is listed.
CREATE UNIQUE INDEX `orders_order_id` ON `orders` (`order_id`);
-- The delivery loop and the order pages select by processing status.
CREATE INDEX `orders_status` ON `orders` (`status`);
-- The overview counts the orders of each of the last days by status from
-- this index alone. Added to older databases at start-up (upgradeDatabase).
CREATE INDEX `orders_time` ON `orders` (`time`, `status`);
-- The order search finds a buyer or an e-mail by its first characters. Added
-- to older databases at start-up (upgradeDatabase).
CREATE INDEX `orders_buyer` ON `orders` (`buyer`);
CREATE INDEX `orders_buyer_email` ON `orders` (`buyer_email`);

-- The order numbers the seller deleted, so that the marketplace listing one
-- again as paid does not bring it back; the seller can let one come back.
-- Added to older databases at start-up (upgradeDatabase).
CREATE TABLE `deleted_orders` (
  `order_id` TEXT PRIMARY KEY,
  `time`     INTEGER DEFAULT 0
);

CREATE TABLE `order_goods` (
  `o_id`        INTEGER DEFAULT 0,
  `item_id`     INTEGER DEFAULT 0,
  `category_id` INTEGER DEFAULT 0,
  `goods_name`  TEXT    DEFAULT '',
  `num`         INTEGER DEFAULT 0,
  `text_msg`    TEXT    DEFAULT ''
);
-- An order's goods lines are read, replaced and deleted by order.
CREATE INDEX `order_goods_o_id` ON `order_goods` (`o_id`);

-- What happened to each marketplace order, one row per step of its delivery
-- (reserved cards, the marketplace's answers, memo, every buyer message
-- queued, sent or refused, recovery after a restart), in id order. The
-- program adds this table to a database made from an older template at
-- start-up (upgradeDatabase in store/DatabaseFile.cpp holds the same text).
CREATE TABLE `order_log` (
  `id`       INTEGER PRIMARY KEY AUTOINCREMENT,
  `order_id` TEXT    DEFAULT '',
  `time`     INTEGER DEFAULT 0,
  `step`     TEXT    DEFAULT '',
  `text`     TEXT    DEFAULT ''
);
CREATE INDEX `order_log_order_id` ON `order_log` (`order_id`, `id`);

CREATE TABLE `msg_queue` (
  `id`          INTEGER PRIMARY KEY AUTOINCREMENT,
  `to`          TEXT    DEFAULT '',
  `from`        TEXT    DEFAULT '',
  `msg`         TEXT    DEFAULT '',
  `type`        INTEGER DEFAULT 0,
  `error_times` INTEGER DEFAULT 0,
  `create_time` INTEGER DEFAULT 0,
  `order_id`    TEXT    DEFAULT '',
  `alipay_id`   TEXT    DEFAULT '',
  -- An e-mail's subject as its category words it; '' for the usual one.
  -- Added to older databases at start-up (upgradeDatabase).
  `subject`     TEXT    DEFAULT '',
  -- Why the last try did not send it ('' before a failed try); error_times
  -- counts those tries. Added to older databases at start-up.
  `last_error`  TEXT    DEFAULT ''
);

CREATE TABLE `sys_config` (
  `key`   TEXT DEFAULT '',
  `value` TEXT DEFAULT ''
);
