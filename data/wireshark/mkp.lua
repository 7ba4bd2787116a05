-- MKP frames in Wireshark: the dissector of protocol "mkp" for captures of
-- link type 147 (LINKTYPE_USER0), as mkpt, mkptool --pcap and the mkp extcap
-- interface write them.
--
-- A frame: destination (3 bytes), source (3), command, data type, data
-- length (2 bytes, low first), the header checksum (4 bytes, low first) over
-- the 10 bytes before it; then, when the length is not 0, the data bytes and
-- their checksum. The checksum is a 32-bit rotate-left-5 / exclusive-or over
-- big-endian byte pairs (an odd count: the first byte alone seeds it).
--
-- The Info column reads as the start of mkpt's decode pane line
-- ("0A0B0C>>010203 ANSW type 05 : reg 01"); bytes that are no whole frame
-- read "Missing format", as the pane shows them.
--
-- Written for Lua 5.2 (Wireshark 4.0) and later: plain arithmetic, no
-- bitwise operators or libraries.

local mkp = Proto("mkp", "MKP serial protocol")

local MAX_DATA = 2048
local HEADER = 14

-- The command names of the decode pane.
local commands = {
  [1] = "подтверждение",
  [3] = "ОШИБКА",
  [4] = "PING",
  [6] = "RD",
  [7] = "ANSW",
  [8] = "WR",
}
local checksum_status = { [0] = "Bad", [1] = "Good", [2] = "Unverified" }

local f = mkp.fields
f.dst = ProtoField.string("mkp.dst", "Destination")
f.src = ProtoField.string("mkp.src", "Source")
f.cmd = ProtoField.uint8("mkp.cmd", "Command", base.HEX, commands)
f.type = ProtoField.uint8("mkp.type", "Data type", base.HEX)
f.len = ProtoField.uint16("mkp.len", "Data length", base.DEC)
f.hdr_checksum = ProtoField.uint32("mkp.hdr_checksum", "Header checksum", base.HEX)
f.hdr_status = ProtoField.uint8("mkp.hdr_checksum.status", "Header checksum status", base.DEC, checksum_status)
f.reg = ProtoField.uint8("mkp.reg", "Register", base.HEX)
f.reg_name = ProtoField.string("mkp.reg_name", "Register name")
f.error = ProtoField.uint8("mkp.error", "Error code", base.HEX)
f.data = ProtoField.bytes("mkp.data", "Data")
f.data_checksum = ProtoField.uint32("mkp.data_checksum", "Data checksum", base.HEX)
f.data_status = ProtoField.uint8("mkp.data_checksum.status", "Data checksum status", base.DEC, checksum_status)

local ef_hdr_bad = ProtoExpert.new("mkp.hdr_checksum.bad", "Bad header checksum",
                                   expert.group.CHECKSUM, expert.severity.WARN)
local ef_data_bad = ProtoExpert.new("mkp.data_checksum.bad", "Bad data checksum",
                                    expert.group.CHECKSUM, expert.severity.WARN)
local ef_malformed = ProtoExpert.new("mkp.malformed", "Malformed MKP frame",
                                     expert.group.MALFORMED, expert.severity.ERROR)
mkp.experts = { ef_hdr_bad, ef_data_bad, ef_malformed }

-- Windows-1251 bytes 0x80..0xFF as Unicode code points (0x98 has none: "?").
local cp1251 = {
  0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
  0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x003F, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
  0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
  0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
  0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
  0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
  0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
  0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
}

local function utf8_char(cp)
  if cp < 0x80 then return string.char(cp) end
  if cp < 0x800 then
    return string.char(0xC0 + math.floor(cp / 64), 0x80 + cp % 64)
  end
  return string.char(0xE0 + math.floor(cp / 4096), 0x80 + math.floor(cp / 64) % 64, 0x80 + cp % 64)
end

-- The text of Windows-1251 bytes, control characters written as \xNN as the
-- panes write them.
local function text_of(bytes)
  local out = {}
  for i = 1, #bytes do
    local b = bytes[i]
    if b < 0x20 or b == 0x7F then
      out[#out + 1] = string.format("\\x%02X", b)
    elseif b < 0x80 then
      out[#out + 1] = string.char(b)
    else
      out[#out + 1] = utf8_char(cp1251[b - 0x7F])
    end
  end
  return table.concat(out)
end

-- Exclusive or of two numbers of 16 bits.
local function xor16(a, b)
  local r, p = 0, 1
  for _ = 1, 16 do
    local x, y = a % 2, b % 2
    if x ~= y then r = r + p end
    a, b, p = (a - x) / 2, (b - y) / 2, p * 2
  end
  return r
end

-- The MKP checksum of count bytes of the buffer from offset.
local function checksum(tvb, offset, count)
  if count <= 0 then return 0 end
  local bytes = tvb:bytes(offset, count)
  local x, i = 0, 0
  if count % 2 == 1 then
    x = bytes:get_index(0)
    i = 1
  end
  while i < count do
    x = (x % 134217728) * 32 + math.floor(x / 134217728) -- rotate left by 5 in 32 bits
    local pair = bytes:get_index(i) * 256 + bytes:get_index(i + 1)
    local low = x % 65536
    x = x - low + xor16(low, pair)
    i = i + 2
  end
  return x
end

local function hex_address(tvb, offset)
  return string.format("%02X%02X%02X", tvb(offset, 1):uint(), tvb(offset + 1, 1):uint(), tvb(offset + 2, 1):uint())
end

-- Adds a checksum, its status and, when it is wrong, a warning.
local function add_checksum(tree, field, status_field, expert_field, range, computed)
  local stored = range:le_uint()
  local item = tree:add_le(field, range)
  local good = stored == computed
  tree:add(status_field, range, good and 1 or 0):set_generated()
  if not good then
    item:append_text(string.format(" [should be 0x%08x]", computed))
    item:add_proto_expert_info(expert_field)
  end
  return good
end

-- The decode pane's start of line for a whole frame.
local function info_of(tvb, command, dtype, length)
  local line = hex_address(tvb, 3) .. ">>" .. hex_address(tvb, 0)
  local name = commands[command]
  if command == 1 or command == 4 then
    return line .. " " .. name
  elseif command == 3 then
    if length > 0 then return line .. " " .. name .. string.format(" %02X", tvb(HEADER, 1):uint()) end
    return line .. " " .. name .. " "
  elseif command == 6 or command == 7 or command == 8 then
    line = line .. " " .. name .. string.format(" type %02X : reg ", dtype)
    if dtype % 2 == 1 then
      if length > 0 then line = line .. string.format("%02X", tvb(HEADER, 1):uint()) end
    else
      local bytes = {}
      for i = 0, length - 1 do
        local b = tvb(HEADER + i, 1):uint()
        if b == 0 then break end
        bytes[#bytes + 1] = b
      end
      line = line .. '"' .. text_of(bytes) .. '"'
    end
    return line
  end
  return line
end

function mkp.dissector(tvb, pinfo, root)
  pinfo.cols.protocol = "MKP"
  local size = tvb:captured_len()
  local tree = root:add(mkp, tvb(0, size))
  local function malformed(why)
    tree:add_proto_expert_info(ef_malformed, why)
    pinfo.cols.info = "Missing format"
    return size
  end
  if size < 10 then
    return malformed(string.format("%d bytes: too short for a header", size))
  end
  tree:add(f.dst, tvb(0, 3), hex_address(tvb, 0))
  tree:add(f.src, tvb(3, 3), hex_address(tvb, 3))
  tree:add(f.cmd, tvb(6, 1))
  tree:add(f.type, tvb(7, 1))
  local length = tvb(8, 2):le_uint()
  local len_item = tree:add_le(f.len, tvb(8, 2))
  if size < HEADER then
    return malformed(string.format("%d bytes: the header checksum is cut off", size))
  end
  local header_good = add_checksum(tree, f.hdr_checksum, f.hdr_status, ef_hdr_bad, tvb(10, 4), checksum(tvb, 0, 10))
  if length > MAX_DATA then
    len_item:append_text(" [more than 2048]")
    return malformed(string.format("data length %d exceeds 2048", length))
  end
  local whole = length == 0 and HEADER or HEADER + length + 4
  local data_good = true
  if length > 0 then
    local present = math.min(length, size - HEADER)
    if present > 0 then
      local command = tvb(6, 1):uint()
      local dtype = tvb(7, 1):uint()
      if command == 3 then
        tree:add(f.error, tvb(HEADER, 1))
      elseif command == 6 or command == 7 or command == 8 then
        if dtype % 2 == 1 then
          tree:add(f.reg, tvb(HEADER, 1))
        else
          local bytes, n = {}, 0
          while n < present and tvb(HEADER + n, 1):uint() ~= 0 do
            bytes[#bytes + 1] = tvb(HEADER + n, 1):uint()
            n = n + 1
          end
          tree:add(f.reg_name, tvb(HEADER, math.max(n, 1)), text_of(bytes))
        end
      end
      tree:add(f.data, tvb(HEADER, present))
    end
    if size < whole then
      return malformed(string.format("%d bytes of a frame of %d", size, whole))
    end
    data_good = add_checksum(tree, f.data_checksum, f.data_status, ef_data_bad, tvb(HEADER + length, 4),
                             checksum(tvb, HEADER, length))
  end
  if size > whole then
    tree:add_proto_expert_info(ef_malformed, string.format("%d bytes after the frame", size - whole))
  end
  if header_good and data_good and size == whole then
    pinfo.cols.info = info_of(tvb, tvb(6, 1):uint(), tvb(7, 1):uint(), length)
  else
    pinfo.cols.info = "Missing format"
  end
  return size
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, mkp)
