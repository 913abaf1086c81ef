# Reproducers too large to keep in the tree, written into the build folder at configure time
# (once); the replay tests read them beside fuzz/reproducers.
set(generated ${CMAKE_CURRENT_BINARY_DIR}/reproducers)

# 200,000 nested arrays (3 MB): the nesting must be refused before the reader recurses.
if(NOT EXISTS ${generated}/plist_xml/deep-arrays.plist)
  string(REPEAT "<array>" 200000 open)
  string(REPEAT "</array>" 200000 close)
  file(WRITE ${generated}/plist_xml/deep-arrays.plist
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n${open}${close}\n</plist>\n")
endif()

# 117,000 disjoint ranges in one Range header: refused at once, not compared pair by pair. The
# even numbers 1000 to 234998, built as 234 prefixes times 500 three-digit endings.
if(NOT EXISTS ${generated}/range_header/many-ranges.txt)
  set(endings "")
  foreach(i RANGE 1000 1998 2)
    string(SUBSTRING ${i} 1 3 ending)
    string(APPEND endings ",${ending}")
  endforeach()
  set(ranges "")
  foreach(prefix RANGE 1 234)
    string(REPLACE "," ",${prefix}" part "${endings}")
    string(APPEND ranges "${part}")
  endforeach()
  string(SUBSTRING "${ranges}" 1 -1 ranges)
  file(WRITE ${generated}/range_header/many-ranges.txt "235000\nbytes=${ranges}")
endif()

# A 1 MB URL of dot segments: removing them takes linear time.
if(NOT EXISTS ${generated}/url/dot-segments.txt)
  string(REPEAT "a/../" 200000 segments)
  file(WRITE ${generated}/url/dot-segments.txt "http://example.test/${segments}")
endif()
