-- Wireshark dissector for the command frames of the PLC adapter tools, over UDP and on a serial line.
--
-- It reads the frames the way `sample` and `tarvik` read them: the answer checks in the tools'
-- order with the codes the tools report (10201 to 10206, and 10009 / 10106 from the receive
-- itself), the serial unstuffing as the tools' receive does it, and the records with the meaning
-- of the tools' print-outs.
--
-- UDP: registered on port 49152; other ports through "Decode As" (tshark: -d udp.port==N,extcmd).
-- Which datagram is a request and which an answer follows from the traffic, the way a tool sees
-- it: a datagram to an address and port that sent a request is that tool's answer (the tools
-- take the next datagram, whoever sent it), anything else is judged by its own header.
--
-- Serial line: pcap link type 147 (LINKTYPE_USER0). Each record holds bytes that passed the line
-- in one direction behind a 4-byte pseudo-header: byte 0 is 0 for bytes sent to the adapter and
-- 1 for bytes from the adapter, bytes 1 to 3 are 0. A frame may span several records of its
-- direction; it ends at the end-of-frame byte A2.
--
-- Load it once:   wireshark -X lua_script:extcmd.lua capture.pcap
-- or for good:    copy it to ~/.local/lib/wireshark/plugins/ (Help > About > Folders shows where).

local UDP_PORT = 49152
local SERIAL_ENCAP = wtap_encaps.USER0

local extcmd = Proto("extcmd", "PLC adapter command frame")
local line = Proto("extcmd_serial", "PLC adapter serial line")

---------------------------------------------------------------------------------------------------
-- The frame format
---------------------------------------------------------------------------------------------------

local PREAMBLE = "\170\170\170\170\170\170\170\171"  -- AA AA AA AA AA AA AA AB
local FRAME_TYPE = 3
local DIR_REQUEST = 0xF001
local DIR_ANSWER = 0xF002
local MAGIC = 0x0B4E7E67
local HEADER_SIZE = 28
local FRAME_LENGTH_BASE = 12       -- FrameLength counts from here; so does the serial checksum
local FRAME_LENGTH_OVER_DATA = 16  -- header bytes that FrameLength counts
local RELAY_HEADER_SIZE = 20
local LEADING_BYTES = 2            -- in front of the frame in a datagram
local TOOL_BUFFER = 4096           -- the tools' frame buffer, and their largest datagram
local SERIAL_MAX_FRAME_LENGTH = TOOL_BUFFER - 14  -- beyond, the checksum lies past the buffer
local TERMINATOR = 0xA2
local ESCAPE = 0xA3
local FW_BLOCK_SIZE = 1024
local FW_RECORD_SIZE = 1032
local MAX_PENDING = 65536          -- serial bytes kept while waiting for an end-of-frame byte

local ERR = {
  datagram = 10009,    -- the receive fails: empty datagram, or more than the tools' buffer
  line_start = 10106,  -- the bytes read do not begin with the Preamble
  preamble = 10201,
  frame_type = 10202,
  direction = 10203,
  magic = 10204,
  command = 10205,
  checksum = 10206,
  result = 10207,      -- the adapter refused: the tools print this code and the result byte
}

local CMD_GET_STATUS = 0xA140
local CMD_INFO_RESOLUTION = 0xB000
local CMD_RELAY = 0x3000
local CMD_FW_UPDATE = 0x5000
local CMD_SYSTEMCMD = 0xDFF0
local CMD_RESET_SYS = 0x4000

local command_names = {
  [CMD_GET_STATUS] = "Get Status",
  [CMD_INFO_RESOLUTION] = "PLC Info Resolution",
  [CMD_RELAY] = "Relay",
  [CMD_FW_UPDATE] = "Firmware Update",
  [CMD_SYSTEMCMD] = "System Command",
  [CMD_RESET_SYS] = "Restart",
}

-- The answer code a request code waits for.
local function answer_code(request_code)
  return bit.bor(bit.band(request_code, 0xFFF2), 2)
end

local function base_of(code)
  return bit.band(code, 0xFFF0)
end

local code_names = {}
for base, name in pairs(command_names) do
  code_names[base + 1] = name .. " request"
  code_names[base + 2] = name .. " answer"
end

---------------------------------------------------------------------------------------------------
-- Fields
---------------------------------------------------------------------------------------------------

local role_names = { [1] = "Request (sent by the tool)", [2] = "Answer (sent by the adapter)" }
local ROLE_REQUEST = 1
local ROLE_ANSWER = 2

local f = {
  leading = ProtoField.bytes("extcmd.leading", "Leading bytes"),
  preamble = ProtoField.bytes("extcmd.preamble", "Preamble", base.SPACE),
  frame_type = ProtoField.uint8("extcmd.frame_type", "FrameType"),
  reserved = ProtoField.bytes("extcmd.reserved", "Reserved"),
  frame_length = ProtoField.uint16("extcmd.frame_length", "FrameLength"),
  direction = ProtoField.uint16("extcmd.direction", "Direction", base.HEX,
                                { [DIR_REQUEST] = "Request", [DIR_ANSWER] = "Answer" }),
  body_length = ProtoField.uint32("extcmd.body_length", "BodyLength"),
  magic = ProtoField.uint32("extcmd.magic", "Magic", base.HEX),
  command = ProtoField.uint16("extcmd.command", "CommandCode", base.HEX, code_names),
  command_base = ProtoField.uint16("extcmd.command.base", "Command", base.HEX, command_names),
  command_answer = ProtoField.bool("extcmd.command.answer", "Is an answer code"),
  role = ProtoField.uint8("extcmd.role", "Role", base.DEC, role_names),
  request_in = ProtoField.framenum("extcmd.request_in", "Request in", base.NONE, frametype.REQUEST),
  response_in = ProtoField.framenum("extcmd.response_in", "Answer in", base.NONE,
                                    frametype.RESPONSE),
  expected = ProtoField.uint16("extcmd.expected_command", "CommandCode the tool waits for",
                               base.HEX, code_names),
  tool_error = ProtoField.uint16("extcmd.tool_error", "The tool reports Failure"),
  inner = ProtoField.none("extcmd.inner", "Nested frame"),
  payload = ProtoField.bytes("extcmd.payload", "Data"),
  data = ProtoField.bytes("extcmd.data", "Data bytes"),
  result = ProtoField.uint8("extcmd.result", "Result"),

  status_registered = ProtoField.uint8("extcmd.status.registered_info", "Registered Info"),
  status_linkup = ProtoField.uint8("extcmd.status.ether_linkup", "Ether LinkUp"),
  status_spddpx = ProtoField.uint16("extcmd.status.ether_spddpx", "Ether SpdDpx"),
  status_multiple = ProtoField.uint8("extcmd.status.multiple_mode", "Multiple Mode"),
  status_authenticated = ProtoField.uint8("extcmd.status.authenticated", "Authenticated",
                                          base.DEC, { [1] = "authenticated" }),
  status_mac = ProtoField.ether("extcmd.status.mac", "MAC Address"),
  status_main_version = ProtoField.string("extcmd.status.main_version", "Main Version"),
  status_boot_version = ProtoField.string("extcmd.status.boot_version", "Boot Version"),
  status_beacon = ProtoField.uint8("extcmd.status.beacon_status", "Beacon Status"),
  status_mode_flags = ProtoField.uint8("extcmd.status.mode_flags", "ModeFlags", base.HEX),
  status_master = ProtoField.bool("extcmd.status.master", "Master mode", 8, nil, 0x01),
  status_master_mac = ProtoField.ether("extcmd.status.master_mac", "Master MAC Address"),
  status_mode = ProtoField.string("extcmd.status.mode", "Mode"),

  info_address = ProtoField.ipv4("extcmd.info.address", "Access IP"),
  identity_mac = ProtoField.ether("extcmd.identity.mac", "MAC Address"),
  identity_ip = ProtoField.ipv4("extcmd.identity.ip", "IP Address"),
  identity_mask = ProtoField.ipv4("extcmd.identity.subnet_mask", "Sub-Net Mask"),
  identity_version = ProtoField.uint32("extcmd.identity.command_version", "Command Version",
                                       base.HEX),
  identity_model = ProtoField.string("extcmd.identity.model_name", "Model Name"),
  identity_option = ProtoField.uint32("extcmd.identity.option_flag", "Option Flag", base.HEX),

  relay_remote_mac = ProtoField.ether("extcmd.relay.remote_mac", "RemoteMac"),
  relay_wait_time = ProtoField.uint16("extcmd.relay.wait_time", "waitTime (x 100 ms)"),
  relay_max_length = ProtoField.uint32("extcmd.relay.max_length", "RelayMaxLength"),

  fw_block = ProtoField.uint16("extcmd.fw.block_number", "BlockNumber"),
  fw_more = ProtoField.uint16("extcmd.fw.more_follows", "MoreFollows", base.DEC,
                              { [0] = "last block", [1] = "more blocks follow" }),
  fw_count = ProtoField.uint32("extcmd.fw.byte_count", "ByteCount"),
  fw_image = ProtoField.bytes("extcmd.fw.image", "Image bytes"),
  fw_fill = ProtoField.bytes("extcmd.fw.fill", "Fill"),

  system_text = ProtoField.string("extcmd.system.text", "Text"),
  system_text_end = ProtoField.uint8("extcmd.system.text_end", "End of text", base.HEX),
  system_padding = ProtoField.bytes("extcmd.system.padding", "Padding"),
}
extcmd.fields = f

local e = {
  preamble = ProtoExpert.new("extcmd.expert.preamble", "Wrong Preamble",
                             expert.group.MALFORMED, expert.severity.ERROR),
  frame_type = ProtoExpert.new("extcmd.expert.frame_type", "Wrong FrameType",
                               expert.group.MALFORMED, expert.severity.ERROR),
  direction = ProtoExpert.new("extcmd.expert.direction", "Wrong Direction",
                              expert.group.MALFORMED, expert.severity.ERROR),
  magic = ProtoExpert.new("extcmd.expert.magic", "Wrong Magic",
                          expert.group.MALFORMED, expert.severity.ERROR),
  command = ProtoExpert.new("extcmd.expert.command", "Unexpected CommandCode",
                            expert.group.PROTOCOL, expert.severity.ERROR),
  checksum = ProtoExpert.new("extcmd.expert.checksum", "Wrong checksum",
                             expert.group.CHECKSUM, expert.severity.ERROR),
  datagram = ProtoExpert.new("extcmd.expert.datagram", "Datagram the tools cannot receive",
                             expert.group.MALFORMED, expert.severity.ERROR),
  line_start = ProtoExpert.new("extcmd.expert.line_start", "Line frame without Preamble first",
                               expert.group.MALFORMED, expert.severity.ERROR),
  length = ProtoExpert.new("extcmd.expert.length", "FrameLength disagrees with the frame",
                           expert.group.MALFORMED, expert.severity.WARN),
  result = ProtoExpert.new("extcmd.expert.result", "The adapter refused the command",
                           expert.group.RESPONSE_CODE, expert.severity.WARN),
  text_end = ProtoExpert.new("extcmd.expert.text_end", "Text without end byte",
                             expert.group.MALFORMED, expert.severity.WARN),
  block = ProtoExpert.new("extcmd.expert.block", "Firmware block not as the tools build it",
                          expert.group.PROTOCOL, expert.severity.WARN),
  padding = ProtoExpert.new("extcmd.expert.padding", "Padding not as the tools build it",
                            expert.group.PROTOCOL, expert.severity.NOTE),
  no_request = ProtoExpert.new("extcmd.expert.no_request", "No request before this answer",
                               expert.group.SEQUENCE, expert.severity.NOTE),
  dropped = ProtoExpert.new("extcmd.expert.dropped", "Read with the frame before and dropped",
                            expert.group.SEQUENCE, expert.severity.WARN),
  incomplete = ProtoExpert.new("extcmd.expert.incomplete", "Line frame not ended",
                               expert.group.SEQUENCE, expert.severity.NOTE),
  cut = ProtoExpert.new("extcmd.expert.cut", "Capture cut the datagram short",
                        expert.group.MALFORMED, expert.severity.NOTE),
}
extcmd.experts = e

local lf = {
  direction = ProtoField.uint8("extcmd_serial.direction", "Direction", base.DEC,
                               { [0] = "To the adapter", [1] = "From the adapter" }),
  reserved = ProtoField.bytes("extcmd_serial.reserved", "Reserved"),
  frame = ProtoField.bytes("extcmd_serial.frame", "Line frame"),
  continued_from = ProtoField.framenum("extcmd_serial.continued_from", "Begun in"),
  continued_in = ProtoField.framenum("extcmd_serial.continued_in", "Continued in"),
  noise = ProtoField.bytes("extcmd_serial.noise", "Bytes before the Preamble"),
  escapes = ProtoField.uint16("extcmd_serial.escapes", "Escaped bytes"),
  terminator = ProtoField.uint8("extcmd_serial.terminator", "End of frame", base.HEX),
  checksum = ProtoField.uint16("extcmd_serial.checksum", "Checksum", base.HEX),
  checksum_calculated = ProtoField.uint16("extcmd_serial.checksum.calculated",
                                          "Calculated checksum", base.HEX),
  checksum_ok = ProtoField.bool("extcmd_serial.checksum.ok", "Checksum correct"),
  pending = ProtoField.bytes("extcmd_serial.pending", "Frame not ended in this record"),
}
line.fields = lf

---------------------------------------------------------------------------------------------------
-- Reading helpers: the tools read the bytes past a short frame as 0 (their buffer is cleared)
---------------------------------------------------------------------------------------------------

local function u8(tvb, offset)
  if offset < tvb:len() then return tvb(offset, 1):uint() end
  return 0
end

local function le16(tvb, offset)
  return u8(tvb, offset) + u8(tvb, offset + 1) * 256
end

local function le32(tvb, offset)
  return le16(tvb, offset) + le16(tvb, offset + 2) * 65536
end

local function fits(tvb, offset, length)
  return offset + length <= tvb:len()
end

-- Adds the field when all its bytes are there; returns the item or nil.
local function add(tree, field, tvb, offset, length, value)
  if length <= 0 or not fits(tvb, offset, length) then return nil end
  if value ~= nil then return tree:add(field, tvb(offset, length), value) end
  return tree:add(field, tvb(offset, length))
end

local function add_le(tree, field, tvb, offset, length)
  if not fits(tvb, offset, length) then return nil end
  return tree:add_le(field, tvb(offset, length))
end

-- The bytes from offset to the end (or length of them), if any, with a note on the label.
local function add_rest(tree, field, tvb, offset, length, note)
  local available = tvb:len() - offset
  if length == nil or length > available then length = available end
  if length <= 0 then return nil end
  local item = tree:add(field, tvb(offset, length))
  if note then item:append_text(note) end
  return item
end

-- A Tvb of the bytes (a Lua table, 1-based, from first to last); an empty one when there are none.
local function tvb_of(bytes, first, last, name)
  local a = ByteArray.new()
  a:set_size(math.max(last - first + 1, 0))
  for i = first, last do a:set_index(i - first, bytes[i]) end
  return a:tvb(name)
end

-- A text field: its bytes up to the first NUL, or all of them when there is none.
local function text_of(tvb, offset, span)
  local available = math.min(span, tvb:len() - offset)
  if available <= 0 then return "", 0, false end
  local raw = tvb(offset, available):raw()
  local nul = raw:find("\0", 1, true)
  if nul then return raw:sub(1, nul - 1), nul - 1, true end
  return raw, available, false
end

local function add_text(tree, field, tvb, offset, span)
  if not fits(tvb, offset, 1) then return nil end
  local text = text_of(tvb, offset, span)
  return tree:add(field, tvb(offset, math.min(span, tvb:len() - offset)), text)
end

local function hex16(v)
  return string.format("0x%04X", v)
end

local function mark(item, tree, expert_field, text)
  (item or tree):add_proto_expert_info(expert_field, text)
end

---------------------------------------------------------------------------------------------------
-- Command data
---------------------------------------------------------------------------------------------------

-- The result byte of an answer; returns it (0 when missing, as the tool reads it).
local function add_result(tree, d, ctx, whose)
  local result = u8(d, 0)
  local item = add(tree, f.result, d, 0, 1)
  if item then item:append_text(result == 0 and " (success)" or " (refused)") end
  if result ~= 0 then
    ctx.refused = ctx.refused or result
    mark(item, tree, e.result, string.format(
      "%s result %d: the tool reports Failure:%d Result:%d", whose, result, ERR.result, result))
  end
  return result
end

local status_mode_text = {
  master = "Master",
  authenticated = "Terminal(authenticated)",
  not_authenticated = "Terminal(not authenticated)",
}

-- The status record, as `sample` prints it; with a non-zero Result the tool reads nothing else.
local function dissect_status_record(d, tree, ctx, whose)
  if add_result(tree, d, ctx, whose) ~= 0 then
    add_rest(tree, f.data, d, 1, nil, " (not read)")
    return
  end
  add(tree, f.reserved, d, 1, 3)
  local master = bit.band(u8(d, 113), 1) == 1
  local authenticated = u8(d, 9) == 1
  local mode = master and status_mode_text.master
      or (authenticated and status_mode_text.authenticated or status_mode_text.not_authenticated)
  if fits(d, 113, 1) then
    tree:add(f.status_mode, d(113, 1), mode):set_generated()
  end
  local unread = master and " (not read in master mode)" or ""
  add(tree, f.status_registered, d, 4, 1)
  add(tree, f.status_linkup, d, 5, 1)
  add_le(tree, f.status_spddpx, d, 6, 2)
  add(tree, f.status_multiple, d, 8, 1)
  local item = add(tree, f.status_authenticated, d, 9, 1)
  if item then item:append_text(unread) end
  add(tree, f.status_mac, d, 10, 6)
  add_text(tree, f.status_main_version, d, 16, 64)
  add_text(tree, f.status_boot_version, d, 80, 32)
  add(tree, f.status_beacon, d, 112, 1)
  item = add(tree, f.status_mode_flags, d, 113, 1)
  if item then item:add(f.status_master, d(113, 1)) end
  item = add(tree, f.status_master_mac, d, 114, 6)
  if item then item:append_text(unread) end
  add_rest(tree, f.data, d, 120)
  return mode
end

local function dissect_identity_record(d, tree, ctx)
  if add_result(tree, d, ctx, "Adapter") ~= 0 then
    add_rest(tree, f.data, d, 1, nil, " (not read)")
    return
  end
  add(tree, f.reserved, d, 1, 1)
  add(tree, f.identity_mac, d, 2, 6)
  add(tree, f.identity_ip, d, 8, 4)
  add(tree, f.identity_mask, d, 12, 4)
  add_le(tree, f.identity_version, d, 16, 4)
  add_text(tree, f.identity_model, d, 20, 16)
  add_le(tree, f.identity_option, d, 36, 4)
  add_rest(tree, f.data, d, 40)
end

local dissect_frame  -- below; the relay nests frames

local function dissect_relay_request(d, tree, ctx, pinfo)
  add(tree, f.reserved, d, 0, 4)
  add(tree, f.relay_remote_mac, d, 4, 6)
  add_le(tree, f.relay_wait_time, d, 10, 2)
  add(tree, f.reserved, d, 12, 4)
  add_le(tree, f.relay_max_length, d, 16, 4)
  if d:len() > RELAY_HEADER_SIZE then
    dissect_frame(d(RELAY_HEADER_SIZE):tvb(), pinfo, tree,
                  { role = ROLE_REQUEST, nested = true, link = ctx.link })
  end
  if fits(d, 4, 6) then
    local mac = { d(4, 6):bytes():tohex(true):match(("(..)"):rep(6)) }
    return "to " .. table.concat(mac, "-")
  end
end

-- The local adapter's result, then the remote adapter's answer frame, whose data the tool reads
-- as a status record whatever its header says.
local function dissect_relay_answer(d, tree, ctx, pinfo)
  if add_result(tree, d, ctx, "Local adapter") ~= 0 then
    add_rest(tree, f.data, d, 1, nil, " (not read)")
    return
  end
  local item = add(tree, f.data, d, 1, RELAY_HEADER_SIZE - 1)
  if item then item:append_text(" (not read)") end
  if d:len() > RELAY_HEADER_SIZE then
    dissect_frame(d(RELAY_HEADER_SIZE):tvb(), pinfo, tree,
                  { role = ROLE_ANSWER, nested = true, link = ctx.link, outer = ctx })
  end
end

local function dissect_firmware_block(d, tree)
  local number = le16(d, 0)
  local more = le16(d, 2)
  local count = le32(d, 4)
  add_le(tree, f.fw_block, d, 0, 2)
  local more_item = add_le(tree, f.fw_more, d, 2, 2)
  local count_item = add_le(tree, f.fw_count, d, 4, 4)
  local image = math.min(count, FW_BLOCK_SIZE)
  add_rest(tree, f.fw_image, d, 8, image)
  local fill_item = add_rest(tree, f.fw_fill, d, 8 + image, FW_BLOCK_SIZE - image)
  add_rest(tree, f.data, d, FW_RECORD_SIZE)
  if d:len() ~= FW_RECORD_SIZE then
    mark(nil, tree, e.block, string.format("The block has %d data bytes, the tools send %d",
                                           d:len(), FW_RECORD_SIZE))
  end
  if more > 1 then
    mark(more_item, tree, e.block, string.format("MoreFollows %d: the tools send 0 or 1", more))
  end
  if count == 0 or count > FW_BLOCK_SIZE or (more == 1 and count ~= FW_BLOCK_SIZE) then
    mark(count_item, tree, e.block, string.format(
      "ByteCount %d with MoreFollows %d: the tools send 1024 before the last block, 1 to 1024 in it",
      count, more))
  end
  if fill_item and d(8 + image, math.min(FW_BLOCK_SIZE - image, d:len() - 8 - image))
      :bytes():tohex():find("[^F]") then
    mark(fill_item, tree, e.block, "The fill behind the image bytes is not all FF")
  end
  return string.format("block %d%s", number, more == 0 and " (last)" or "")
end

-- The text, its end byte and the padding behind it, within `limit` data bytes.
local function dissect_text(d, tree, limit, padding_byte)
  local text, length, ended = text_of(d, 0, limit)
  if length > 0 then tree:add(f.system_text, d(0, length), text) end
  if not ended then return text, false end
  tree:add(f.system_text_end, d(length, 1))
  local padding_length = math.min(limit, d:len()) - length - 1
  if padding_length > 0 then
    local padding = d(length + 1, padding_length)
    local item = tree:add(f.system_padding, padding)
    if padding_byte and padding:bytes():tohex() ~= string.rep(padding_byte, padding_length) then
      mark(item, tree, e.padding, "The tools pad the text with FF bytes")
    end
  end
  return text, true
end

local function dissect_system_request(d, tree)
  local text, ended = dissect_text(d, tree, d:len(), "FF")
  if not ended then
    mark(nil, tree, e.text_end, "The command text has no end byte")
  elseif d:len() % 4 ~= 0 then
    mark(nil, tree, e.padding, "The tools pad the text to a multiple of 4 bytes")
  end
  return '"' .. text .. '"'
end

-- The tool prints the answer text up to its first NUL, never past the data its FrameLength gives.
local function dissect_system_answer(d, tree, ctx)
  local claimed = math.max(ctx.frame_length - FRAME_LENGTH_OVER_DATA, 0)
  local text, ended = dissect_text(d, tree, math.min(claimed, d:len()))
  if not ended then
    mark(nil, tree, e.text_end, string.format(
      "The answer text has no end byte: the tool prints it up to the end of its %d data bytes",
      math.min(claimed, TOOL_BUFFER - LEADING_BYTES - HEADER_SIZE)))
  end
  add_rest(tree, f.data, d, claimed)
  return '"' .. text .. '"'
end

-- How each command's request and answer data read.
local data_dissectors = {
  [CMD_GET_STATUS] = {
    request = function(d, tree) add_rest(tree, f.data, d, 0) end,
    answer = function(d, tree, ctx) dissect_status_record(d, tree, ctx, "Adapter") end,
  },
  [CMD_INFO_RESOLUTION] = {
    request = function(d, tree)
      add(tree, f.info_address, d, 0, 4)
      add_rest(tree, f.data, d, 4)
      if fits(d, 0, 4) then return tostring(d(0, 4):ipv4()) end
    end,
    answer = function(d, tree, ctx) dissect_identity_record(d, tree, ctx) end,
  },
  [CMD_RELAY] = { request = dissect_relay_request, answer = dissect_relay_answer },
  [CMD_FW_UPDATE] = {
    request = dissect_firmware_block,
    answer = function(d, tree, ctx)
      add_result(tree, d, ctx, "Adapter")
      add_rest(tree, f.data, d, 1)
    end,
  },
  [CMD_SYSTEMCMD] = { request = dissect_system_request, answer = dissect_system_answer },
  [CMD_RESET_SYS] = {
    request = function(d, tree) add_rest(tree, f.data, d, 0) end,
    answer = function(d, tree, ctx)
      add_result(tree, d, ctx, "Adapter")
      add_rest(tree, f.data, d, 1)
    end,
  },
}

---------------------------------------------------------------------------------------------------
-- The frame
---------------------------------------------------------------------------------------------------

-- The tools' answer checks, in their order; each returns nil when it passes, else a text.
local function header_checks(tvb, ctx)
  local preamble = tvb:len() >= 8 and tvb(0, 8):raw() == PREAMBLE
  local code = le16(tvb, 24)
  local expected = ctx.expected
  return {
    { code = ERR.preamble, expert = e.preamble, at = { 0, 8 },
      failed = not preamble and "Preamble is not AA AA AA AA AA AA AA AB" },
    { code = ERR.frame_type, expert = e.frame_type, at = { 8, 1 },
      failed = u8(tvb, 8) ~= FRAME_TYPE
        and string.format("FrameType %d, not %d", u8(tvb, 8), FRAME_TYPE) },
    { code = ERR.direction, expert = e.direction, at = { 12, 2 },
      failed = le16(tvb, 12) ~= DIR_ANSWER
        and string.format("Direction %s, not that of an answer (0xF002)", hex16(le16(tvb, 12))) },
    { code = ERR.magic, expert = e.magic, at = { 20, 4 },
      failed = le32(tvb, 20) ~= MAGIC
        and string.format("Magic 0x%08X, not 0x%08X", le32(tvb, 20), MAGIC) },
    { code = ERR.command, expert = e.command, at = { 24, 2 },
      failed = (expected and code ~= expected
                and string.format("CommandCode %s, the tool waits for %s", hex16(code),
                                  hex16(expected)))
        or (not expected and bit.band(code, 0xF) ~= 2
            and string.format("CommandCode %s is no answer code", hex16(code))) },
  }
end

-- Dissects one frame, Preamble first. ctx: role, nested, link ("udp" or "serial"), the tree item
-- to fill (item; else one is added), the frame's size on the wire (size; else the bytes there)
-- and whether the capture has fewer bytes (cut), and for answers the code the tool waits for (expected), a
-- failure of the receive before the checks (receive_error) and the serial checksum check
-- (checksum). Returns the Info text and the code the tool reports for it (nil when it takes it).
dissect_frame = function(tvb, pinfo, tree, ctx)
  local code = le16(tvb, 24)
  local base = base_of(code)
  -- An answer reads as the command the tool sent.
  local data_base = ctx.request_base or base
  local name = command_names[data_base] or string.format("Command %s", hex16(code))
  local frame_length = le16(tvb, 10)
  ctx.frame_length = frame_length
  local t = ctx.item or tree:add(ctx.nested and f.inner or extcmd, tvb())

  add(t, f.preamble, tvb, 0, 8)
  add(t, f.frame_type, tvb, 8, 1)
  add(t, f.reserved, tvb, 9, 1)
  local length_item = add_le(t, f.frame_length, tvb, 10, 2)
  add_le(t, f.direction, tvb, 12, 2)
  add(t, f.reserved, tvb, 14, 2)
  add_le(t, f.body_length, tvb, 16, 4)
  add_le(t, f.magic, tvb, 20, 4)
  local code_item = add_le(t, f.command, tvb, 24, 2)
  if code_item then
    code_item:add(f.command_base, tvb(24, 2), base):set_generated()
    code_item:add(f.command_answer, tvb(24, 2), bit.band(code, 1) == 0):set_generated()
  end
  add(t, f.reserved, tvb, 26, 2)
  if not ctx.nested then
    t:add(f.role, ctx.role):set_generated()
    if ctx.request_in then t:add(f.request_in, ctx.request_in):set_generated() end
    if ctx.response_in then t:add(f.response_in, ctx.response_in):set_generated() end
    if ctx.expected then t:add(f.expected, ctx.expected):set_generated() end
  end

  -- FrameLength against the bytes there are (also those a capture cut off): the frame is
  -- 12 + FrameLength bytes long.
  local claimed = FRAME_LENGTH_BASE + frame_length
  local size = ctx.size or tvb:len()
  if ctx.cut then
    mark(nil, t, e.cut, string.format(
      "The capture holds %d of the frame's %d bytes: what is missing is neither shown nor checked",
      tvb:len(), size))
  end
  if ctx.cut and not fits(tvb, 10, 2) then
    -- FrameLength itself was not captured.
  elseif claimed ~= size and not ctx.nested then
    local text = ctx.link == "udp"
      and string.format("FrameLength %d makes a datagram of %d bytes, this one has %d",
                        frame_length, frame_length + FRAME_LENGTH_BASE + LEADING_BYTES,
                        size + LEADING_BYTES)
      or string.format("FrameLength %d makes a frame of %d bytes before the checksum, " ..
                       "this one has %d", frame_length, claimed, size)
    mark(length_item, t, e.length, text)
  elseif ctx.nested and claimed > tvb:len() then
    mark(length_item, t, e.length, string.format(
      "FrameLength %d makes a nested frame of %d bytes, %d are there", frame_length, claimed,
      tvb:len()))
  end

  -- The tools' answer checks, in order; the first that fails is what the tool reports.
  local tool_error = ctx.receive_error
  if ctx.role == ROLE_ANSWER and not ctx.nested and not ctx.dropped then
    local checks = header_checks(tvb, ctx)
    if ctx.checksum then table.insert(checks, ctx.checksum) end
    for _, check in ipairs(checks) do
      -- Bytes the capture cut off are unknown: the tool had them.
      if check.failed and not (ctx.cut and not fits(tvb, check.at[1], check.at[2])) then
        local item = check.item
        if not item and fits(tvb, check.at[1], check.at[2]) then
          item = t:add(tvb(check.at[1], check.at[2]), check.failed)
          item:set_generated()
        end
        mark(item, t, check.expert, tool_error
             and string.format("%s (%d; the tool stops at Failure:%d before)", check.failed,
                               check.code, tool_error)
             or string.format("%s: the tool reports Failure:%d", check.failed, check.code))
        tool_error = tool_error or check.code
      end
    end
    if not ctx.expected then
      mark(nil, t, e.no_request, "No request before this answer in the capture")
    end
  end

  -- The data, read as the command the tool sent (for an answer) or the one the frame names.
  local summary
  local dissectors = data_dissectors[data_base]
  if tvb:len() > HEADER_SIZE then
    local d = tvb(HEADER_SIZE):tvb()
    local dt = t:add(f.payload, tvb(HEADER_SIZE))
    dt:set_text(string.format("Data (%d bytes)", tvb:len() - HEADER_SIZE))
    if ctx.nested and ctx.role == ROLE_ANSWER then
      -- The tool reads the remote adapter's status record whatever this header says.
      dissect_status_record(d, dt, ctx.outer, "Remote adapter")
    elseif dissectors then
      local dissect = ctx.role == ROLE_ANSWER and dissectors.answer or dissectors.request
      summary = dissect(d, dt, ctx, pinfo)
    else
      add_rest(dt, f.data, d, 0)
    end
  end

  if not ctx.nested and not tool_error and ctx.refused then tool_error = ERR.result end
  if tool_error and not ctx.nested then
    t:add(f.tool_error, tool_error):set_generated()
  end

  local info = name .. (ctx.role == ROLE_ANSWER and " answer" or " request")
  if summary then info = info .. " " .. summary end
  if ctx.refused then info = info .. string.format(", result %d", ctx.refused) end
  if tool_error then info = info .. string.format(" [Failure:%d]", tool_error) end
  t:append_text(", " .. info)
  return info, tool_error
end

---------------------------------------------------------------------------------------------------
-- What a capture holds so far: requests waiting for answers, serial bytes waiting for an end
---------------------------------------------------------------------------------------------------

local state
local records  -- per frame number: what the first pass found

function extcmd.init()
  state = { waiting = {}, serial_request = nil, pending = { [0] = nil, [1] = nil } }
  records = {}
end

-- By its header alone; a frame whose header a capture cut off counts as a request.
local function looks_like_answer(tvb)
  if not fits(tvb, 24, 2) then return false end
  return le16(tvb, 12) == DIR_ANSWER or bit.band(le16(tvb, 24), 1) == 0
end

---------------------------------------------------------------------------------------------------
-- UDP
---------------------------------------------------------------------------------------------------

local function endpoint(address, port)
  return tostring(address) .. ":" .. tostring(port)
end

-- Decides on the first pass whether the datagram is a request or an answer, and to which request.
local function udp_record(pinfo, frame_tvb)
  local r = records[pinfo.number]
  if r then return r end
  r = {}
  local waiting = state.waiting[endpoint(pinfo.dst, pinfo.dst_port)]
  if waiting or looks_like_answer(frame_tvb) then
    r.role = ROLE_ANSWER
    if waiting then
      r.request = waiting
      waiting.answer_in = waiting.answer_in or pinfo.number
    end
  else
    r.role = ROLE_REQUEST
    r.code = le16(frame_tvb, 24)
    r.number = pinfo.number
    state.waiting[endpoint(pinfo.src, pinfo.src_port)] = r
  end
  records[pinfo.number] = r
  return r
end

function extcmd.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "EXTCMD"
  local size = tvb:reported_len()
  local frame_tvb = tvb:len() > LEADING_BYTES and tvb(LEADING_BYTES):tvb()
      or tvb_of({}, 1, 0, "No frame")
  local r = udp_record(pinfo, frame_tvb)
  local ctx = { role = r.role, link = "udp", size = math.max(size - LEADING_BYTES, 0),
                cut = tvb:len() < size }
  if r.role == ROLE_ANSWER and r.request then
    ctx.expected = answer_code(r.request.code)
    ctx.request_base = base_of(r.request.code)
    ctx.request_in = r.request.number
  elseif r.role == ROLE_REQUEST then
    ctx.response_in = r.answer_in
  end

  ctx.item = tree:add(extcmd, tvb())
  local leading = add(ctx.item, f.leading, tvb, 0, math.min(LEADING_BYTES, tvb:len()))
  if r.role == ROLE_ANSWER and (size == 0 or size > TOOL_BUFFER) then
    ctx.receive_error = ERR.datagram
    mark(leading, ctx.item, e.datagram, string.format(
      "Datagram of %d bytes: the tools receive 1 to %d, the tool reports Failure:%d",
      size, TOOL_BUFFER, ERR.datagram))
  end
  local info = dissect_frame(frame_tvb, pinfo, tree, ctx)
  pinfo.cols.info = info
  return size
end

---------------------------------------------------------------------------------------------------
-- Serial line
---------------------------------------------------------------------------------------------------

-- The checksum of the bytes: XOR of 16-bit words taken high byte first, byte swapped; read back
-- little-endian, byte 0 is the XOR of the bytes at even distance, byte 1 of those at odd distance.
local function checksum(bytes, first, last)
  local even, odd = 0, 0
  for i = first, last do
    if (i - first) % 2 == 0 then
      even = bit.bxor(even, bytes[i] or 0)
    else
      odd = bit.bxor(odd, bytes[i] or 0)
    end
  end
  return even + odd * 256
end

-- Unstuffs a line frame as the tools' receive does: A3 sets a flag and stores nothing; A2 is
-- stored and ends the frame, flag or not; any other byte x is stored as x, or x | 0x80 after
-- the flag. At most the tools' buffer is filled. Returns the stored bytes (1-based, the stored
-- A2 included) and how many escapes there were.
local function unstuff(raw, from)
  local out, escapes, flag = {}, 0, false
  for i = from, #raw do
    local b = raw:byte(i)
    if #out >= TOOL_BUFFER then break end
    if b == ESCAPE then
      flag = true
      escapes = escapes + 1
    elseif b == TERMINATOR then
      out[#out + 1] = b
      break
    else
      out[#out + 1] = flag and bit.bor(b, 0x80) or b
      flag = false
    end
  end
  return out, escapes
end

-- On the first pass: splits the bytes of this record, behind those still waiting in its
-- direction, into line frames, each up to and including its end-of-frame byte.
local function serial_record(pinfo, direction, raw)
  local r = records[pinfo.number]
  if r then return r end
  r = { frames = {} }
  local waiting = state.pending[direction]
  local buffer = (waiting and waiting.bytes or "") .. raw
  local earlier = waiting and #waiting.bytes or 0
  local start = 1
  while true do
    local stop = buffer:find("\162", start, true)
    if not stop then break end
    local frame = { bytes = buffer:sub(start, stop), own_start = math.max(start - earlier, 1) - 1,
                    own_stop = stop - earlier }
    if start <= earlier then
      frame.begun_in = waiting.numbers
      for _, other in ipairs(waiting.records) do other.continued_in = pinfo.number end
    end
    -- The tool reads what is queued when the end-of-frame byte comes, and drops what follows it.
    frame.after_end = #r.frames > 0 and start > earlier
    r.frames[#r.frames + 1] = frame
    start = stop + 1
  end
  if start <= #buffer then
    local rest = buffer:sub(start)
    if #rest > MAX_PENDING then rest = rest:sub(-MAX_PENDING) end
    local numbers = {}
    if start <= earlier then
      for _, n in ipairs(waiting.numbers) do numbers[#numbers + 1] = n end
    end
    numbers[#numbers + 1] = pinfo.number
    local records_waiting = start <= earlier and waiting.records or {}
    records_waiting[#records_waiting + 1] = r
    r.pending_start = math.max(start - earlier, 1) - 1
    state.pending[direction] = { bytes = rest, numbers = numbers, records = records_waiting }
  else
    state.pending[direction] = nil
  end

  -- Which request each answer belongs to: the last one sent before it.
  for _, frame in ipairs(r.frames) do
    if direction == 0 then
      frame.role = ROLE_REQUEST
      frame.number = pinfo.number
      local bytes = unstuff(frame.bytes, frame.bytes:find(PREAMBLE, 1, true) or 1)
      frame.code = (bytes[25] or 0) + (bytes[26] or 0) * 256
      state.serial_request = frame
    else
      frame.role = ROLE_ANSWER
      local request = state.serial_request
      if request and not frame.after_end then
        frame.request = request
        request.answer_in = request.answer_in or pinfo.number
      end
    end
  end
  records[pinfo.number] = r
  return r
end

local function dissect_line_frame(frame, payload, pinfo, tree, lt)
  local raw = frame.bytes
  local line_tvb
  if frame.begun_in then
    line_tvb = ByteArray.new(raw, true):tvb("Line frame")
    for _, n in ipairs(frame.begun_in) do lt:add(lf.continued_from, n):set_generated() end
  else
    line_tvb = payload(frame.own_start, #raw):tvb()
  end

  local ctx = { role = frame.role, link = "serial" }
  -- The frame is dissected from its Preamble on, where there is one.
  local preamble_at = raw:find(PREAMBLE, 1, true) or 1
  if raw:sub(1, 8) ~= PREAMBLE then
    local noise = preamble_at > 1 and lt:add(lf.noise, line_tvb(0, preamble_at - 1)) or nil
    if frame.role == ROLE_ANSWER then
      ctx.receive_error = ERR.line_start
      mark(noise, lt, e.line_start, string.format(
        "The bytes read do not begin with the Preamble: the tool reports Failure:%d",
        ERR.line_start))
    else
      mark(noise, lt, e.line_start, "The line frame does not begin with the Preamble")
    end
  end
  if frame.after_end and frame.role == ROLE_ANSWER then
    ctx.dropped = true
    mark(nil, lt, e.dropped,
         "Came with the frame before it: the tool reads both at once and drops this one")
  end

  local bytes, escapes = unstuff(raw, preamble_at)
  lt:add(lf.escapes, escapes):set_generated()
  lt:add(lf.terminator, line_tvb(line_tvb:len() - 1, 1))
  local body_length = #bytes - 1  -- without the stored end-of-frame byte
  local body = tvb_of(bytes, 1, #bytes, "Unstuffed frame")

  -- The checksum as the tool checks it: read at 12 + FrameLength of its buffer (the unstuffed
  -- bytes, the stored A2, then zeros), over the FrameLength bytes from 12.
  local frame_length = (bytes[11] or 0) + (bytes[12] or 0) * 256
  local at = FRAME_LENGTH_BASE + frame_length
  local stored = (bytes[at + 1] or 0) + (bytes[at + 2] or 0) * 256
  local calculated = checksum(bytes, FRAME_LENGTH_BASE + 1, at)
  local ok = frame_length <= SERIAL_MAX_FRAME_LENGTH and stored == calculated
  local sum_item
  if at + 2 <= body:len() then
    sum_item = lt:add_le(lf.checksum, body(at, 2))
  else
    sum_item = lt:add(lf.checksum, stored):set_generated()
  end
  lt:add(lf.checksum_calculated, calculated):set_generated()
  lt:add(lf.checksum_ok, ok):set_generated()
  if not ok then
    local text = frame_length > SERIAL_MAX_FRAME_LENGTH
      and string.format("FrameLength %d puts the checksum past the tools' buffer", frame_length)
      or string.format("Checksum 0x%04X, calculated 0x%04X", stored, calculated)
    if frame.role == ROLE_ANSWER then
      ctx.checksum = { code = ERR.checksum, expert = e.checksum, at = { 0, 0 }, item = sum_item,
                       failed = text }
    else
      mark(sum_item, lt, e.checksum, text .. ": the adapter drops the request")
    end
  end

  if frame.request then
    ctx.expected = answer_code(frame.request.code)
    ctx.request_base = base_of(frame.request.code)
    ctx.request_in = frame.request.number
  elseif frame.role == ROLE_REQUEST then
    ctx.response_in = frame.answer_in
  end
  -- The frame is what comes before the checksum, the sender's last two bytes.
  local frame_tvb = tvb_of(bytes, 1, body_length - 2, "Frame")
  return dissect_frame(frame_tvb, pinfo, tree, ctx)
end

function line.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "EXTCMD serial"
  local direction = tvb(0, 1):uint()
  local payload = tvb:len() > 4 and tvb(4):tvb() or tvb_of({}, 1, 0, "Empty")
  local r = serial_record(pinfo, direction, tvb:len() > 4 and tvb(4):raw() or "")
  local t = tree:add(line, tvb())
  t:add(lf.direction, tvb(0, 1))
  t:add(lf.reserved, tvb(1, 3))
  local infos = {}
  for _, frame in ipairs(r.frames) do
    local range = payload(frame.own_start, frame.own_stop - frame.own_start)
    local lt = t:add(lf.frame, range)
    infos[#infos + 1] = dissect_line_frame(frame, payload, pinfo, tree, lt)
  end
  if r.pending_start then
    local item = t:add(lf.pending, payload(r.pending_start))
    if r.continued_in then
      item:add(lf.continued_in, r.continued_in):set_generated()
    else
      mark(item, t, e.incomplete,
           "No end-of-frame byte (A2) in this record; none follows in this direction so far")
    end
    infos[#infos + 1] = "(part of a frame)"
  end
  pinfo.cols.info = (direction == 0 and "To the adapter: " or "From the adapter: ")
      .. table.concat(infos, "; ")
  return tvb:len()
end

---------------------------------------------------------------------------------------------------
-- Registration
---------------------------------------------------------------------------------------------------

DissectorTable.get("udp.port"):add(UDP_PORT, extcmd)
DissectorTable.get("wtap_encap"):add(SERIAL_ENCAP, line)
