// output/viewers.h: the viewer files written at the end of a mapping run, after the map
// files: EnSight, then GMV, then FieldView, each when its option is not 0.
#pragma once

#include "platform/io.h"

#include <cstdint>
#include <string>
#include <vector>

int write_gmv();        // quorvel.gmv
int write_ensight();    // ensight/, ASCII or binary by settings.ensight_outputfiles
int write_fieldview();  // quorvel_ascii.uns or quorvel.uns by the sign of the option

// ensight.cpp
struct EnsightVariable {
    std::string description;  // also the variable's name in the case file
    std::string file_name;    // under ensight/
};
// boundary_temp, flux, htc, fluid_temp, yplus, then one per extra_names entry.
std::vector<EnsightVariable> ensight_variable_table();
// The name with every character but letters, digits, '_', '-' and '.' made '_'.
std::string safe_file_name_part(const std::string& name);
// Creates the file under ensight/ (making the directory when it is missing) or ends the
// run with exit status 1.
void open_ensight_file(OutFile& file, const std::string& path, LineEnd line_end);
void write_ensight_case(const std::vector<EnsightVariable>& table);
int write_ensight_ascii(const std::vector<EnsightVariable>& table);

// ensight_binary.cpp: C Binary geometry and variable files. `scrambled` false writes the
// standard form (option 2); true puts a random key in the first record and masks the node
// count (option 3). The key generator is seeded with `seed` (the clock, at the caller).
int write_ensight_binary(bool scrambled, unsigned seed);
void write_ensight_binary_geometry(bool scrambled, unsigned seed);
void write_ensight_binary_variable(int position, const std::string& description,
                                   const std::string& file_name);
void make_scramble_key(char key[11], unsigned seed);  // nine digits 1-9, then "1", NUL
int scramble_index_of(const char* key);               // 11..891, or -1 for a foreign key
std::uint32_t scramble_mask_of(int index);            // index 0..999
