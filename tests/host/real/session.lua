-- Drives Ardour (ardour7-lua) on its "None (Dummy)" backend for the real-host test.
--   ardour7-lua session.lua create DIR NAME LV2|VST3 PLUGIN_ID CONTROL=VALUE
--     a new session with one MIDI track playing the instrument: one note per track
--     (36 to 43) in a MIDI region, the control named CONTROL set to VALUE (one argument,
--     as the tool would take a negative value for an option),
--     saved with the instrument's state.
--   ardour7-lua session.lua reopen DIR NAME CONTROL
--     loads the saved session (the instrument restores its state), prints the control's
--     value and saves again, so the state is written by a restored instance.
local mode, dir, name = arg[1], arg[2], arg[3]
assert (mode and dir and name, "usage: session.lua create|reopen DIR NAME ...")

local rate = 48000
local seconds = 3                  -- length of the region, and so of the export
local firstNote, noteCount = 36, 8 -- notes 36 to 43 play tracks 1 to 8
local noteBeats = 0.5              -- spacing and length of the notes, in beats (120 bpm)

local function find_control (plugin, part)
  local auto = plugin:to_automatable ()
  for p in auto:all_automatable_params ():iter () do
    local c = auto:automation_control (p, false)
    -- VST3 shows "Global Amp", LV2 "property-<URI>:globalAmp": compared without spaces.
    local n = string.gsub (string.lower (c:name ()), "[^%w:]", "")
    if string.find (n, ":?" .. string.gsub (part, "[^%w]", "") .. "$") then return c end
  end
  return nil
end

-- Lets the instrument's own start-up (its first idle tick) run before anything is read.
local function settle () sleep (1.0) end

AudioEngine:set_backend ("None (Dummy)", "", "")

if mode == "create" then
  local ptype, pid = arg[4], arg[5]
  local control, value = string.match (arg[6] or "", "^(.-)=(.*)$")
  value = tonumber (value)
  assert (control and value, "expected CONTROL=VALUE, got " .. tostring (arg[6]))
  local s = create_session (dir, name, rate)
  assert (s, "create_session failed")
  local pt = (ptype == "VST3") and ARDOUR.PluginType.VST3 or ARDOUR.PluginType.LV2
  local pi = ARDOUR.LuaAPI.new_plugin_info (pid, pt)
  assert (not pi:isnil (), "plugin not found: " .. pid)
  print ("instrument:", pi.name, pi.unique_id, pi.path)

  local tracks = Session:new_midi_track (
    ARDOUR.ChanCount (ARDOUR.DataType ("midi"), 1), ARDOUR.ChanCount (ARDOUR.DataType ("audio"), 2),
    false, pi, nil, nil, 1, "Drums", ARDOUR.PresentationInfo.max_order, ARDOUR.TrackMode.Normal, true)
  local track = tracks:front ()
  assert (not track:isnil (), "new_midi_track failed")
  local plugin = track:nth_plugin (0)

  -- There is no call for a new MIDI region: bouncing the empty track input before the
  -- instrument gives an empty one of the wanted length.
  local itt = ARDOUR.InterThreadInfo ()
  local region = track:bounce_range (0, seconds * rate, itt,
                                     ARDOUR.LuaAPI.nil_proc (), false, "notes")
  assert (not region:isnil (), "bounce_range failed")
  local function beats (b) return Temporal.Beats (math.floor (b), math.floor ((b % 1) * 1920 + 0.5)) end
  local model = region:to_midiregion ():midi_source (0):model ()
  local cmd = model:new_note_diff_command ("notes")
  for i = 0, noteCount - 1 do
    cmd:add (ARDOUR.LuaAPI.new_noteptr (0, beats (i * noteBeats), beats (noteBeats), firstNote + i, 110))
  end
  model:apply_command (Session, cmd)

  -- Added as an undoable operation: only then does the session get the range the export renders.
  local playlist = track:playlist ()
  -- Named as Ardour's own region insertion: under another name no session range is made.
  Session:begin_reversible_command ("insert region")
  playlist:to_stateful ():clear_changes ()
  playlist:add_region (region, Temporal.timepos_t (0), 1, false)
  Session:add_stateful_diff_command (playlist:to_statefuldestructible ())
  Session:commit_reversible_command (nil)
  settle ()
  local c = find_control (plugin, control)
  assert (c, "no control named like " .. control)
  c:set_value (value, PBD.GroupControlDisposition.NoGroup)
  print ("set:", c:name (), c:get_value ())
  settle () -- process cycles carry the control change to the instrument before it is saved

  Session:save_state ("", false, false, false, false, false)
  print ("saved", Session:path (), name)
  close_session ()
elseif mode == "reopen" then
  local control = string.lower (arg[4])
  local s = load_session (dir, name)
  assert (s, "load_session failed")
  settle ()
  local plugin = nil
  for r in Session:get_routes ():iter () do
    if r:name () == "Drums" then plugin = r:nth_plugin (0) end
  end
  assert (plugin and not plugin:isnil (), "the track lost its instrument")
  local c = find_control (plugin, control)
  assert (c, "no control named like " .. control)
  print ("restored:", c:name (), c:get_value ())
  Session:save_state ("", false, false, false, false, false)
  close_session ()
else
  error ("unknown mode " .. mode)
end
