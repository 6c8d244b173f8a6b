// mapping/hit_mapping.cpp: placeholder until it lands.
